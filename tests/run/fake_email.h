// An email and an attachment with fixed values, for the run's tests.
#pragma once

#include "common/error.h"
#include "run/email_source.h"

#include <map>
#include <string>

namespace qf::testing {

class FakeEmail : public EmailFields {
public:
    std::map<std::string, std::string> fields = {{"SUBJECT", "Application for the post"},
                                                 {"FROM", "ann@example.org"},
                                                 {"TO", "Jobs Desk"},
                                                 {"BCC", ""},
                                                 {"SENT", "09/12/2026 10:00:00"},
                                                 {"NOW", "20261209"}};
    std::string body;
    std::optional<DateTime> delivery;

    std::string FieldValue(std::string_view name) override {
        auto it = fields.find(std::string(name));
        if (it == fields.end()) {
            throw Error("cannot read " + std::string(name));
        }
        return it->second;
    }
    std::optional<DateTime> DeliveryTime() override { return delivery; }
    std::string ReadBody() override { return body; }
};

class FakeAttachment : public AttachmentFields {
public:
    std::string fileName = "CV.Doc";
    EmailFields* owner = nullptr;

    std::string FieldValue(std::string_view) override { return fileName; }
    EmailFields* OwnerEmail() override { return owner; }
};

// Text as UTF-16LE bytes, for expected file contents.
inline std::string LE(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

inline const std::string kBomLE = "\xFF\xFE";

} // namespace qf::testing
