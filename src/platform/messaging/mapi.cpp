#include "platform/messaging/mapi.h"

#include "platform/messaging/entryid.h"
#include "platform/messaging/profiles.h"
#include "platform/messaging/props.h"
#include "platform/messaging/provider.h"

#include "common/error.h"

#include <gmime/gmime.h>

namespace qf::mapi {

namespace {

int g_initCount = 0;
std::string g_lastLogonFailure;

HRESULT LogonFailed(HRESULT hr, std::string why) {
    g_lastLogonFailure = std::move(why);
    return hr;
}

// A row of the stores table: the store as its profile names it, and its provider.
std::vector<PropValue> StoreRow(const StoreConfig& s, bool isDefault) {
    const StoreUid uid = MakeStoreUid(s.kind, s.Identity());
    std::vector<PropValue> row = {
        MakeText(PR_DISPLAY_NAME, s.displayName),
        MakeBinary(PR_ENTRYID, MakeStoreEntryId(uid)),
        MakeBool(PR_DEFAULT_STORE, isDefault),
        MakeBinary(PR_RECORD_KEY, Binary(uid.begin(), uid.end())),
        MakeText(PR_SERVICE_NAME, s.kind),
        MakeLong(PR_OBJECT_TYPE, MAPI_STORE),
    };
    if (const auto provider = FindProvider(s.kind)) {
        row.push_back(MakeText(PR_PROVIDER_DISPLAY, provider->displayName));
        row.push_back(MakeBinary(PR_MDB_PROVIDER, provider->uid));
    }
    return row;
}

class Session : public IMAPISession {
public:
    Session(Profile profile, std::optional<std::string> password)
        : profile_(std::move(profile)), password_(std::move(password)),
          stores_(MakeProfileStores(profile_, password_)) {
        error_.SetComponent("Messaging session");
    }

    HRESULT GetLastError(HRESULT hr, std::uint32_t flags,
                         std::optional<MapiErrorInfo>& info) override {
        if (flags & ~MAPI_UNICODE) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        return error_.Get(hr, info);
    }

    HRESULT GetMsgStoresTable(std::uint32_t /*flags*/,
                              std::shared_ptr<IMAPITable>& table) override {
        table.reset();
        if (loggedOff_) {
            return error_.Set(MAPI_E_END_OF_SESSION, "The session has been logged off");
        }
        std::vector<std::vector<PropValue>> rows;
        for (std::size_t i = 0; i < profile_.stores.size(); ++i) {
            rows.push_back(StoreRow(profile_.stores[i], i == profile_.defaultStore));
        }
        table = MakeTable(std::make_shared<StaticSource>(
            std::move(rows), PropTagArray{PR_DISPLAY_NAME, PR_ENTRYID, PR_DEFAULT_STORE}));
        return S_OK;
    }

    HRESULT OpenMsgStore(std::uintptr_t /*uiParam*/, const EntryId& id, Iid iid,
                         std::uint32_t /*flags*/, std::shared_ptr<IMsgStore>& store) override {
        store.reset();
        if (loggedOff_) {
            return error_.Set(MAPI_E_END_OF_SESSION, "The session has been logged off");
        }
        if (iid != Iid::IMsgStore && iid != Iid::None) {
            return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "A store opens only as a store");
        }
        auto parts = ParseEntryId(id);
        if (!parts || parts->kind != EntryKind::Store) {
            return error_.Set(MAPI_E_INVALID_ENTRYID,
                              "The identifier given does not name a message store");
        }
        for (std::size_t i = 0; i < profile_.stores.size(); ++i) {
            const StoreConfig& s = profile_.stores[i];
            if (MakeStoreUid(s.kind, s.Identity()) == parts->store) {
                return OpenProviderStore(
                    s, StoreLogon{i == profile_.defaultStore, password_, stores_}, store, error_);
            }
        }
        return error_.Set(MAPI_E_NOT_FOUND, "The message store named is not part of profile \"" +
                                                profile_.name + "\"");
    }

    HRESULT Logoff(std::uintptr_t, std::uint32_t, std::uint32_t) override {
        loggedOff_ = true;
        return S_OK;
    }

private:
    // The profile's stores as its stores see them.  A store opened through it
    // sees none: it is asked about its messages, never left to finish moves.
    static std::shared_ptr<const ProfileStores>
    MakeProfileStores(const Profile& profile, const std::optional<std::string>& password) {
        auto stores = std::make_shared<ProfileStores>();
        for (const StoreConfig& s : profile.stores) {
            stores->stores.push_back(MakeStoreUid(s.kind, s.Identity()));
        }
        stores->open = [profile, password](const StoreUid& uid, std::shared_ptr<IMsgStore>& store,
                                           LastError& error) {
            for (std::size_t i = 0; i < profile.stores.size(); ++i) {
                const StoreConfig& s = profile.stores[i];
                if (MakeStoreUid(s.kind, s.Identity()) == uid) {
                    return OpenProviderStore(
                        s, StoreLogon{i == profile.defaultStore, password, nullptr}, store, error);
                }
            }
            return error.Set(MAPI_E_NOT_FOUND,
                             "The store is not part of profile \"" + profile.name + "\"");
        };
        return stores;
    }

    Profile profile_;
    std::optional<std::string> password_;
    std::shared_ptr<const ProfileStores> stores_;
    bool loggedOff_ = false;
    LastError error_;
};

bool PasswordMatches(const Profile& p, const char* given) {
    return !p.password || *p.password == (given == nullptr ? "" : given);
}

// The profile a logon takes, and the password given for it.
struct LogonChoice {
    const Profile* profile = nullptr;
    std::optional<std::string> password;
};

HRESULT ChooseNamed(const ProfileSet& profiles, const std::string& name, const char* password,
                    LogonChoice& choice) {
    choice.profile = profiles.Find(name);
    if (choice.profile == nullptr) {
        return LogonFailed(MAPI_E_LOGON_FAILED, "There is no profile \"" + name + "\"");
    }
    if (!PasswordMatches(*choice.profile, password)) {
        return LogonFailed(MAPI_E_LOGON_FAILED,
                           "Wrong password for profile \"" + choice.profile->name + "\"");
    }
    if (password != nullptr) {
        choice.password = password;
    }
    return S_OK;
}

// Asks the installed profile chooser.
HRESULT ChooseWithChooser(const ProfileSet& profiles, LogonChoice& choice) {
    const ProfileChooser& chooser = CurrentProfileChooser();
    if (!chooser) {
        return LogonFailed(MAPI_E_LOGON_FAILED, "Choosing a profile needs the desktop program");
    }
    std::vector<std::string> names;
    for (const auto& p : profiles.profiles) {
        names.push_back(p.name);
    }
    auto chosen = chooser(names, profiles.profiles[profiles.defaultProfile].name);
    if (!chosen) {
        return LogonFailed(MAPI_E_USER_CANCEL, "No profile was chosen");
    }
    return ChooseNamed(profiles, chosen->profileName, chosen->password.c_str(), choice);
}

} // namespace

HRESULT MAPIInitialize(const MapiInit* init) {
    if (init != nullptr && (init->version != 0 || init->flags != 0)) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    if (g_initCount++ == 0) {
        static bool gmimeReady = false;
        if (!gmimeReady) {
            g_mime_init();
            gmimeReady = true;
        }
    }
    return S_OK;
}

void MAPIUninitialize() {
    if (g_initCount > 0) {
        --g_initCount;
    }
}

std::string LastLogonFailure() {
    return g_lastLogonFailure;
}

HRESULT MAPILogonEx(std::uintptr_t /*uiParam*/, const char* profileName, const char* password,
                    std::uint32_t flags, std::shared_ptr<IMAPISession>& session) {
    session.reset();
    g_lastLogonFailure.clear();
    if (g_initCount == 0) {
        return LogonFailed(MAPI_E_NOT_INITIALIZED, "The messaging platform is not initialised");
    }
    ProfileSet profiles;
    try {
        profiles = LoadProfiles();
    } catch (const Error& e) {
        return LogonFailed(MAPI_E_NOT_INITIALIZED, e.what());
    }
    LogonChoice choice;
    HRESULT hr = S_OK;
    if (profileName != nullptr && *profileName != '\0') {
        hr = ChooseNamed(profiles, profileName, password, choice);
    } else if ((flags & MAPI_USE_DEFAULT) != 0) {
        choice.profile = &profiles.profiles[profiles.defaultProfile];
        if (password != nullptr) {
            choice.password = password;
        }
    } else if ((flags & MAPI_LOGON_UI) != 0) {
        hr = ChooseWithChooser(profiles, choice);
    } else {
        hr = LogonFailed(MAPI_E_LOGON_FAILED, "No profile was named");
    }
    if (Failed(hr)) {
        return hr;
    }
    session = std::make_shared<Session>(*choice.profile, std::move(choice.password));
    return S_OK;
}

HRESULT IMAPIFolder::SaveRawStream(IStream& source, bool read) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        std::uint32_t n = 0;
        if (HRESULT hr = source.Read(buffer, sizeof buffer, &n); Failed(hr)) {
            return hr;
        }
        if (n == 0) {
            return SaveRawMessage(bytes, read);
        }
        bytes.append(buffer, n);
    }
}

HRESULT HrGetOneProp(IMAPIProp& object, PropTag tag, std::optional<PropValue>& value) {
    value.reset();
    std::vector<PropValue> values;
    const PropTagArray tags{tag};
    HRESULT hr = object.GetProps(&tags, 0, values);
    if (Failed(hr)) {
        return hr;
    }
    if (values.empty() || PROP_TYPE(values[0].tag) == PT_ERROR) {
        return MAPI_E_NOT_FOUND;
    }
    value = std::move(values[0]);
    return S_OK;
}

HRESULT HrSetOneProp(IMAPIProp& object, const PropValue& value) {
    std::vector<PropProblem> problems;
    HRESULT hr = object.SetProps({value}, &problems);
    if (Failed(hr)) {
        return hr;
    }
    return problems.empty() ? S_OK : problems[0].code;
}

HRESULT HrQueryAllRows(IMAPITable& table, const PropTagArray* columns, const SortOrderSet* sort,
                       std::int32_t rowLimit, RowSet& rows) {
    rows.clear();
    HRESULT hr = S_OK;
    if (columns != nullptr && Failed(hr = table.SetColumns(*columns, 0))) {
        return hr;
    }
    if (sort != nullptr && Failed(hr = table.SortTable(*sort, 0))) {
        return hr;
    }
    if (Failed(hr = table.SeekRow(BOOKMARK_BEGINNING, 0, nullptr))) {
        return hr;
    }
    for (;;) {
        RowSet batch;
        if (Failed(hr = table.QueryRows(100, 0, batch))) {
            rows.clear();
            return hr;
        }
        if (batch.empty()) {
            break;
        }
        for (auto& r : batch) {
            if (rowLimit > 0 && rows.size() >= static_cast<std::size_t>(rowLimit)) {
                return MAPI_E_TABLE_TOO_BIG;
            }
            rows.push_back(std::move(r));
        }
    }
    return S_OK;
}

HRESULT RTFSync(IMessage& /*message*/, std::uint32_t /*flags*/, bool* messageUpdated) {
    if (messageUpdated != nullptr) {
        *messageUpdated = false;
    }
    return S_OK;
}

FileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
    constexpr std::int64_t kEpochDiff = 11644473600; // 1601-01-01 to 1970-01-01, seconds
    const std::int64_t ticks = (seconds + kEpochDiff) * 10000000 + nanoseconds / 100;
    return FileTime{ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks)};
}

std::int64_t UnixFromFileTime(FileTime time) {
    return static_cast<std::int64_t>(time.ticks / 10000000) - 11644473600;
}

} // namespace qf::mapi
