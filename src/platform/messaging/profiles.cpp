#include "platform/messaging/profiles.h"

#include "platform/messaging/provider.h"

#include "common/error.h"
#include "common/fileio.h"
#include "common/text.h"
#include "common/xdg.h"

#include <algorithm>
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

std::string JoinKinds() {
    std::string out;
    for (const std::string& k : ProviderKinds()) {
        out += (out.empty() ? "" : ", ") + k;
    }
    return out;
}

// The folder relative locations are taken from: the profiles file's.
std::string FolderOf(const std::string& sourceName) {
    const std::string folder = std::filesystem::path(sourceName).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

// Reads a profiles file line by line; every fault names the file and the line.
class ProfilesParser {
public:
    ProfilesParser(std::string_view text, const std::string& sourceName)
        : text_(text), sourceName_(sourceName), baseFolder_(FolderOf(sourceName)) {
        set_.source = sourceName;
    }

    ProfileSet Parse() {
        while (!text_.empty()) {
            ++lineNo_;
            const std::size_t nl = text_.find('\n');
            const std::string_view line = Trim(text_.substr(0, nl));
            text_.remove_prefix(nl == std::string_view::npos ? text_.size() : nl + 1);
            if (line.empty() || line[0] == ';' || line[0] == '#') {
                continue;
            }
            if (line.front() == '[') {
                Section(line);
            } else {
                Setting(line);
            }
        }
        if (set_.profiles.empty()) {
            lineNo_ = 0;
            Fail("no [profile NAME] section");
        }
        ResolveDefaultStores();
        return std::move(set_);
    }

private:
    [[noreturn]] void Fail(const std::string& why) const {
        throw Error("Profiles file " + sourceName_ + ", line " + std::to_string(lineNo_) + ": " +
                    why);
    }

    void Section(std::string_view line) {
        if (line.back() != ']') {
            Fail("a section header must end with ']'");
        }
        const std::string_view inner = Trim(line.substr(1, line.size() - 2));
        if (inner.size() < 8 || !EqualsNoCase(inner.substr(0, 8), "profile ")) {
            Fail("unknown section [" + std::string(inner) + "] (expected [profile NAME])");
        }
        std::string name(Trim(inner.substr(8)));
        if (name.empty()) {
            Fail("a profile needs a name");
        }
        if (set_.Find(name) != nullptr) {
            Fail("profile \"" + name + "\" is named twice");
        }
        set_.profiles.push_back(Profile{name, std::nullopt, {}, 0});
        defaultStoreNames_.emplace_back();
    }

    void Setting(std::string_view line) {
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            Fail("expected \"key = value\"");
        }
        if (set_.profiles.empty()) {
            Fail("a setting outside a [profile NAME] section");
        }
        Profile& current = set_.profiles.back();
        const std::string key = ToLowerAscii(Trim(line.substr(0, eq)));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (key == "default") {
            DefaultFlag(value);
        } else if (key == "password") {
            current.password = std::string(value);
        } else if (key == "store") {
            current.stores.push_back(StoreLine(value));
        } else if (key == "default store") {
            defaultStoreNames_.back() = std::string(value);
        } else if (key.rfind("store ", 0) == 0) {
            AccountSetting(key, value);
        } else {
            Fail("unknown setting \"" + key + "\"");
        }
    }

    void DefaultFlag(std::string_view value) {
        bool yes = false;
        if (!ParseYesNo(value, yes)) {
            Fail("\"default\" takes yes or no");
        }
        if (yes) {
            if (haveDefault_) {
                Fail("more than one profile is the default");
            }
            haveDefault_ = true;
            set_.defaultProfile = set_.profiles.size() - 1;
        }
    }

    StoreConfig StoreLine(std::string_view value) const {
        const std::size_t a = value.find('|');
        const std::size_t b = a == std::string_view::npos ? a : value.find('|', a + 1);
        if (b == std::string_view::npos) {
            Fail("a store reads \"kind | display name | location\"");
        }
        StoreConfig store;
        store.kind = ToLowerAscii(Trim(value.substr(0, a)));
        store.displayName = std::string(Trim(value.substr(a + 1, b - a - 1)));
        const std::string_view loc = Trim(value.substr(b + 1));
        const auto provider = FindProvider(store.kind);
        if (!provider) {
            Fail("unknown store kind \"" + store.kind + "\" (known: " + JoinKinds() + ")");
        }
        if (store.displayName.empty() || loc.empty()) {
            Fail("a store needs a display name and a location");
        }
        if (provider->location == StoreLocation::Server) {
            store.location = std::string(loc);
            store.account = AccountSettings{};
            store.account->host = store.location;
        } else {
            store.location = ExpandLocation(loc, baseFolder_);
        }
        return store;
    }

    // "store port = 993" and the other settings of the account above.
    void AccountSetting(const std::string& key, std::string_view value) {
        std::vector<StoreConfig>& stores = set_.profiles.back().stores;
        if (stores.empty()) {
            Fail("\"" + key + "\" belongs below the store line of its account");
        }
        if (!stores.back().account) {
            Fail("\"" + key + "\" is a setting of accounts on a mail server; \"" +
                 stores.back().kind + "\" stores have none");
        }
        AccountSettings& account = *stores.back().account;
        if (key == "store port") {
            account.port = Port(value);
        } else if (key == "store user") {
            account.user = std::string(value);
        } else if (key == "store tls") {
            account.tls = Tls(value);
        } else if (key == "store password") {
            PasswordFrom(value, account);
        } else if (key == "store ca file") {
            account.caFile = ExpandLocation(value, baseFolder_);
        } else if (key == "store root folder") {
            account.rootFolder = std::string(value);
        } else if (key == "store verify certificate") {
            if (!ParseYesNo(value, account.verifyCertificate)) {
                Fail("\"store verify certificate\" takes yes or no");
            }
        } else {
            Fail("unknown setting \"" + key + "\"");
        }
    }

    std::uint16_t Port(std::string_view value) const {
        unsigned long port = 0;
        const bool digits = !value.empty() && value.size() <= 5 &&
                            value.find_first_not_of("0123456789") == std::string_view::npos;
        if (digits) {
            port = std::stoul(std::string(value));
        }
        if (port < 1 || port > 65535) {
            Fail("\"store port\" takes a number from 1 to 65535");
        }
        return static_cast<std::uint16_t>(port);
    }

    TlsMode Tls(std::string_view value) const {
        const std::string v = ToLowerAscii(value);
        if (v == "none") {
            return TlsMode::None;
        }
        if (v == "starttls") {
            return TlsMode::StartTls;
        }
        if (v != "implicit") {
            Fail("\"store tls\" takes none, starttls or implicit");
        }
        return TlsMode::Implicit;
    }

    void PasswordFrom(std::string_view value, AccountSettings& account) {
        if (EqualsNoCase(value, "logon")) {
            account.passwordSource = PasswordSource::Logon;
            account.passwordFile.clear();
            return;
        }
        if (value.size() > 5 && EqualsNoCase(value.substr(0, 5), "file ")) {
            account.passwordSource = PasswordSource::File;
            account.passwordFile = ExpandLocation(Trim(value.substr(5)), baseFolder_);
            return;
        }
        if (value.size() > 5 && EqualsNoCase(value.substr(0, 5), "text ")) {
            account.passwordSource = PasswordSource::Text;
            account.password = std::string(Trim(value.substr(5)));
            set_.holdsPasswords = true;
            return;
        }
        Fail("\"store password\" takes logon, file PATH or text SECRET");
    }

    void ResolveDefaultStores() {
        for (std::size_t i = 0; i < set_.profiles.size(); ++i) {
            Profile& p = set_.profiles[i];
            if (defaultStoreNames_[i].empty()) {
                continue;
            }
            const auto it = std::find_if(p.stores.begin(), p.stores.end(), [&](const auto& s) {
                return EqualsNoCase(s.displayName, defaultStoreNames_[i]);
            });
            if (it == p.stores.end()) {
                throw Error("Profiles file " + sourceName_ + ": profile \"" + p.name +
                            "\" names a default store \"" + defaultStoreNames_[i] +
                            "\" that it does not hold");
            }
            p.defaultStore = static_cast<std::size_t>(it - p.stores.begin());
        }
    }

    std::string_view text_;
    std::string sourceName_;
    std::string baseFolder_;
    ProfileSet set_;
    std::vector<std::string> defaultStoreNames_;
    bool haveDefault_ = false;
    int lineNo_ = 0;
};

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
    StoreConfig store;
    store.kind = "maildir";
    store.displayName = "Personal Folders";
    store.location = HomeFolder() + "/Maildir";
    p.stores.push_back(std::move(store));
    set.profiles.push_back(std::move(p));
    return set;
}

std::uint16_t AccountSettings::EffectivePort() const {
    if (port != 0) {
        return port;
    }
    return tls == TlsMode::Implicit ? 993 : 143;
}

std::string StoreConfig::Identity() const {
    if (!account) {
        return location;
    }
    return account->user + "@" + account->host + ":" + std::to_string(account->EffectivePort()) +
           "/" + account->rootFolder;
}

ProfileSet ParseProfiles(std::string_view text, const std::string& sourceName) {
    return ProfilesParser(text, sourceName).Parse();
}

ProfileSet LoadProfiles() {
    const std::string path = ProfilesFilePath();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) {
        return DefaultProfiles();
    }
    ProfileSet set = ParseProfiles(ReadFileBytes(path), path);
    if (set.holdsPasswords && ::stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
        throw Error("Profiles file " + path +
                    " holds account passwords but may be read by others: make it readable by "
                    "its owner only (chmod 600 " +
                    path + ")");
    }
    return set;
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
