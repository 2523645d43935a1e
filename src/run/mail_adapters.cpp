#include "run/mail_adapters.h"

namespace qf {

std::string EmailAdapter::FieldValue(std::string_view name) {
    return email_.FieldValue(std::string(name));
}

std::optional<DateTime> EmailAdapter::DeliveryTime() {
    if (email_.deliveryTime == 0) {
        return std::nullopt;
    }
    return email_.deliveryTime;
}

std::string EmailAdapter::ReadBody() {
    return email_.ReadBody();
}

std::string AttachmentAdapter::FieldValue(std::string_view name) {
    return attachment_.FieldValue(std::string(name));
}

} // namespace qf
