#include "settings/maker_site.h"

#include "settings/settings.h"

#include <cstdlib>

namespace qf {
namespace {

// The environment variable `variable`, else the text value `name` of the
// settings key; "" when neither is set.
std::string Setting(registry::Registry& reg, const char* variable, const char* name) {
    if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
        return value;
    }
    const auto value = reg.GetValue(kSettingsKey, name);
    return value && value->kind == registry::ValueKind::String ? value->text : std::string();
}

} // namespace

std::string MakerSiteAddress(registry::Registry& reg) {
    std::string address = Setting(reg, "QUILLFENCE_UPDATE_SITE", "updateSite");
    while (!address.empty() && address.back() == '/') {
        address.pop_back();
    }
    return address.empty() ? kDefaultMakerSite : address;
}

std::string FilterToolDownloadPage(registry::Registry& reg) {
    const std::string page = Setting(reg, "QUILLFENCE_FILTER_TOOL_PAGE", "filterToolPage");
    return page.empty() ? MakerSiteAddress(reg) + "/siftloom" : page;
}

} // namespace qf
