#include "app/desktop/cmdline/uninstall.h"

#include "settings/settings.h"

#include <cstdlib>
#include <filesystem>

namespace qf::desktop {

namespace {

constexpr const char* kCompanyKey = "SOFTWARE\\Brindlemox";

bool KeyIsEmpty(const registry::Registry& reg, const char* key) {
    return reg.KeyExists(key) && reg.SubKeyNames(key).empty() && reg.ValueNames(key).empty();
}

} // namespace

UserDataPlaces UserDataPlaces::ForThisUser() {
    UserDataPlaces places;
    places.registryFile = registry::DefaultRegistryPath();
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/') {
        places.cacheFolder = std::string(cache) + "/quillfence";
    } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
        places.cacheFolder = std::string(home) + "/.cache/quillfence";
    }
    return places;
}

std::vector<std::string> RemoveUserData(registry::Registry& reg, const UserDataPlaces& places) {
    std::vector<std::string> removed;
    if (reg.DeleteKey(kSettingsKey)) {
        removed.push_back("the settings, window positions and recent files (registry key " +
                          std::string(kSettingsKey) + " in " + places.registryFile + ")");
        // The company key is shared with the maker's other programs: it goes
        // only when nothing else is left in it.
        if (KeyIsEmpty(reg, kCompanyKey)) {
            reg.DeleteKey(kCompanyKey);
        }
        reg.Flush();
    }
    std::error_code ec;
    if (!places.cacheFolder.empty() && std::filesystem::is_directory(places.cacheFolder, ec) &&
        !std::filesystem::is_symlink(places.cacheFolder, ec)) {
        if (std::filesystem::remove_all(places.cacheFolder, ec) > 0 && !ec) {
            removed.push_back("the document converter's cache (" + places.cacheFolder + ")");
        }
    }
    return removed;
}

std::string UninstallReport(const std::vector<std::string>& removed) {
    if (removed.empty()) {
        return "Quillfence had nothing stored for this user.\r\n"
               "Mail, text files and options files were left as they are.";
    }
    std::string text = "Quillfence removed what it stored for this user:\r\n";
    for (const std::string& item : removed) {
        text += "- " + item + "\r\n";
    }
    text += "Mail, text files and options files were left as they are.";
    return text;
}

} // namespace qf::desktop
