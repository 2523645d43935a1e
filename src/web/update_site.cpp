#include "web/update_site.h"

#include "settings/settings.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace qf::web {

namespace {

std::string TextValue(registry::Registry& reg, const char* name) {
    const auto value = reg.GetValue(kSettingsKey, name);
    return value && value->kind == registry::ValueKind::String ? value->text : std::string();
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

UpdateSite UpdateSite::Load(registry::Registry& reg) {
    UpdateSite site;
    site.siteAddress = MakerSiteAddress(reg);
    site.caFile = Environment("QUILLFENCE_UPDATE_CA_FILE");
    if (site.caFile.empty()) {
        site.caFile = TextValue(reg, "updateCaFile");
    }
    site.proxy = TextValue(reg, "proxy");
    site.proxyUser = TextValue(reg, "proxyUser");
    site.proxyPassword = TextValue(reg, "proxyPassword");
    return site;
}

std::string NetUserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name) {
        return found->pw_name;
    }
    return Environment("USER");
}

} // namespace qf::web
