#include "platform/messaging/profiles.h"

#include "common/error.h"
#include "common/fileio.h"
#include "common/text.h"
#include "common/xdg.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qf::mapi {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

std::string ExpandLocation(std::string_view raw, const std::string& baseFolder) {
    std::string loc(raw);
    if (loc == "~") {
        loc = HomeFolder();
    } else if (loc.rfind("~/", 0) == 0) {
        loc = HomeFolder() + loc.substr(1);
    } else if (!loc.empty() && loc[0] != '/') {
        loc = baseFolder + "/" + loc;
    }
    return std::filesystem::path(loc).lexically_normal().string();
}

bool ParseYesNo(std::string_view v, bool& out) {
    const std::string s = ToLowerAscii(v);
    if (s == "yes" || s == "true" || s == "1" || s == "on") {
        out = true;
        return true;
    }
    if (s == "no" || s == "false" || s == "0" || s == "off") {
        out = false;
        return true;
    }
    return false;
}

ProfileChooser& Chooser() {
    static ProfileChooser chooser;
    return chooser;
}

} // namespace

const Profile* ProfileSet::Find(std::string_view name) const {
    for (const auto& p : profiles) {
        if (EqualsNoCase(p.name, name)) {
            return &p;
        }
    }
    return nullptr;
}

std::string ProfilesFilePath() {
    if (const char* p = std::getenv("QUILLFENCE_PROFILES"); p != nullptr && *p != '\0') {
        return p;
    }
    if (const char* r = std::getenv("QUILLFENCE_REGISTRY"); r != nullptr && *r != '\0') {
        std::filesystem::path reg(r);
        return (reg.parent_path().empty() ? std::filesystem::path(".") : reg.parent_path())
            .append("profiles.ini")
            .string();
    }
    return XdgConfigHome() + "/Brindlemox/profiles.ini";
}

ProfileSet DefaultProfiles() {
    ProfileSet set;
    Profile p;
    p.name = "Default";
    p.stores.push_back(StoreConfig{"maildir", "Personal Folders", HomeFolder() + "/Maildir"});
    set.profiles.push_back(std::move(p));
    return set;
}

ProfileSet ParseProfiles(std::string_view text, const std::string& sourceName) {
    ProfileSet set;
    set.source = sourceName;
    const std::string baseFolder = std::filesystem::path(sourceName).parent_path().string();
    Profile* current = nullptr;
    std::vector<std::string> defaultStoreNames;
    bool haveDefault = false;
    int lineNo = 0;
    auto fail = [&](const std::string& why) {
        throw Error("Profiles file " + sourceName + ", line " + std::to_string(lineNo) + ": " +
                    why);
    };
    while (!text.empty()) {
        ++lineNo;
        const std::size_t nl = text.find('\n');
        std::string_view line = Trim(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                fail("a section header must end with ']'");
            }
            std::string_view inner = Trim(line.substr(1, line.size() - 2));
            if (inner.size() < 8 || !EqualsNoCase(inner.substr(0, 8), "profile ")) {
                fail("unknown section [" + std::string(inner) + "] (expected [profile NAME])");
            }
            std::string name(Trim(inner.substr(8)));
            if (name.empty()) {
                fail("a profile needs a name");
            }
            if (set.Find(name) != nullptr) {
                fail("profile \"" + name + "\" is named twice");
            }
            set.profiles.push_back(Profile{name, std::nullopt, {}, 0});
            defaultStoreNames.emplace_back();
            current = &set.profiles.back();
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            fail("expected \"key = value\"");
        }
        if (current == nullptr) {
            fail("a setting outside a [profile NAME] section");
        }
        const std::string key = ToLowerAscii(Trim(line.substr(0, eq)));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (key == "default") {
            bool yes = false;
            if (!ParseYesNo(value, yes)) {
                fail("\"default\" takes yes or no");
            }
            if (yes) {
                if (haveDefault) {
                    fail("more than one profile is the default");
                }
                haveDefault = true;
                set.defaultProfile = set.profiles.size() - 1;
            }
        } else if (key == "password") {
            current->password = std::string(value);
        } else if (key == "store") {
            const std::size_t a = value.find('|');
            const std::size_t b = a == std::string_view::npos ? a : value.find('|', a + 1);
            if (b == std::string_view::npos) {
                fail("a store reads \"kind | display name | location\"");
            }
            StoreConfig store;
            store.kind = ToLowerAscii(Trim(value.substr(0, a)));
            store.displayName = std::string(Trim(value.substr(a + 1, b - a - 1)));
            const std::string_view loc = Trim(value.substr(b + 1));
            if (store.kind != "maildir") {
                fail("unknown store kind \"" + store.kind + "\" (known: maildir)");
            }
            if (store.displayName.empty() || loc.empty()) {
                fail("a store needs a display name and a location");
            }
            store.location = ExpandLocation(loc, baseFolder.empty() ? "." : baseFolder);
            current->stores.push_back(std::move(store));
        } else if (key == "default store") {
            defaultStoreNames.back() = std::string(value);
        } else {
            fail("unknown setting \"" + key + "\"");
        }
    }
    if (set.profiles.empty()) {
        lineNo = 0;
        fail("no [profile NAME] section");
    }
    for (std::size_t i = 0; i < set.profiles.size(); ++i) {
        Profile& p = set.profiles[i];
        if (defaultStoreNames[i].empty()) {
            continue;
        }
        bool found = false;
        for (std::size_t s = 0; s < p.stores.size(); ++s) {
            if (EqualsNoCase(p.stores[s].displayName, defaultStoreNames[i])) {
                p.defaultStore = s;
                found = true;
                break;
            }
        }
        if (!found) {
            throw Error("Profiles file " + sourceName + ": profile \"" + p.name +
                        "\" names a default store \"" + defaultStoreNames[i] +
                        "\" that it does not hold");
        }
    }
    return set;
}

ProfileSet LoadProfiles() {
    const std::string path = ProfilesFilePath();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
        return DefaultProfiles();
    }
    return ParseProfiles(ReadFileBytes(path), path);
}

ProfileChooser SetProfileChooser(ProfileChooser chooser) {
    ProfileChooser old = std::move(Chooser());
    Chooser() = std::move(chooser);
    return old;
}

const ProfileChooser& CurrentProfileChooser() {
    return Chooser();
}

} // namespace qf::mapi
