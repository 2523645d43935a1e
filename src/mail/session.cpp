#include "mail/session.h"

#include "mail/mail_check.h"
#include "mail/store.h"

namespace qf {

using namespace mapi;

namespace {

constexpr std::uint32_t kDefaultProfileFlags =
    MAPI_EXTENDED | MAPI_USE_DEFAULT | MAPI_NEW_SESSION; // 0x62
constexpr std::uint32_t kExplicitProfileFlags =
    MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION | MAPI_LOGON_UI; // 0x33

// The default store's identifier, or nothing.  A table that cannot be read
// counts as "no identifier" with success; rows none of which is flagged
// default give MAPI_E_CALL_FAILED.
HRESULT LookUpDefaultStore(IMAPISession& session, std::optional<mapi::EntryId>& id) {
    id.reset();
    const PropTagArray columns = {PR_DEFAULT_STORE, PR_ENTRYID};
    std::shared_ptr<IMAPITable> table;
    if (Failed(session.GetMsgStoresTable(0, table)) || !table) {
        return S_OK;
    }
    std::uint32_t count = 0;
    RowSet rows;
    if (Failed(table->GetRowCount(0, &count)) || Failed(table->SetColumns(columns, 0)) ||
        Failed(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr)) ||
        Failed(table->QueryRows(static_cast<std::int32_t>(count), 0, rows))) {
        return S_OK;
    }
    if (rows.empty()) {
        return S_OK;
    }
    for (const Row& row : rows) {
        if (row.size() < 2) {
            continue;
        }
        const bool* isDefault = row[0].tag == PR_DEFAULT_STORE ? row[0].Bool() : nullptr;
        if (isDefault != nullptr && *isDefault) {
            if (row[1].tag == PR_ENTRYID && row[1].Bin() != nullptr) {
                id = *row[1].Bin();
            } else {
                id = mapi::EntryId{};
            }
            return S_OK;
        }
    }
    return MAPI_E_CALL_FAILED;
}

} // namespace

MessagingEntry MessagingEntry::Platform() {
    MessagingEntry entry;
    entry.initialize = [] {
        MapiInit init;
        return MAPIInitialize(&init);
    };
    entry.uninitialize = [] { MAPIUninitialize(); };
    entry.logon = [](std::uintptr_t uiParam, const char* name, const char* password,
                     std::uint32_t flags, std::shared_ptr<IMAPISession>& session) {
        return MAPILogonEx(uiParam, name, password, flags, session);
    };
    return entry;
}

MapiSession::MapiSession(MessagingEntry entry) : entry_(std::move(entry)) {
    CheckResultNoDetails("30", entry_.initialize());
    initialized_ = true;
}

MapiSession::~MapiSession() {
    if (loggedOn_) {
        Logoff();
    }
    ReleaseStores();
    mapiSession_.reset();
    if (initialized_) {
        entry_.uninitialize();
    }
}

void MapiSession::SetLogonParameters(std::int32_t profileMode, const std::string& profileName,
                                     const std::string& password) {
    if (loggedOn_ &&
        (profileMode != profileMode_ || profileName != profileName_ || password != password_)) {
        Logoff();
    }
    profileMode_ = profileMode;
    profileName_ = profileName;
    password_ = password;
}

std::shared_ptr<IMAPISession> MapiSession::GetSession() {
    if (!mapiSession_) {
        Logon();
    }
    if (!mapiSession_) {
        // A logon that gave no session: every use needs one.
        CheckResultNoDetails("40", MAPI_E_LOGON_FAILED);
    }
    return mapiSession_;
}

void MapiSession::Logon() {
    mapiSession_.reset();
    std::shared_ptr<IMAPISession> session;
    HRESULT hr = S_OK;
    switch (profileMode_) {
    case 0:
        hr = entry_.logon(UIParam(), nullptr, nullptr, kDefaultProfileFlags, session);
        break;
    case 1:
        hr = entry_.logon(UIParam(), nullptr, nullptr, kExplicitProfileFlags, session);
        break;
    case 2:
        hr = entry_.logon(UIParam(), profileName_.c_str(), password_.c_str(), kExplicitProfileFlags,
                          session);
        break;
    default:
        break; // no call: counts as success, without a session
    }
    CheckResultNoDetails("40", hr);
    mapiSession_ = std::move(session);
    loggedOn_ = true;
}

void MapiSession::ReleaseStores() {
    ++storesGeneration_;
    while (!stores_.empty()) {
        stores_.pop_back();
    }
}

void MapiSession::Logoff() {
    loggedOn_ = false;
    ReleaseStores();
    if (mapiSession_) {
        mapiSession_->Logoff(0, 0, 0);
        mapiSession_.reset();
    }
}

MailStore* MapiSession::OpenDefaultStore() {
    std::shared_ptr<IMAPISession> session = GetSession();
    std::optional<mapi::EntryId> id;
    const HRESULT hr = LookUpDefaultStore(*session, id);
    CheckResult(session, "20.001", hr);
    if (!id) {
        return nullptr;
    }
    stores_.emplace_back("Default", std::make_unique<MailStore>("Default", this, *id));
    MailStore* store = stores_.back().second.get();
    store->GetMsgStore();
    return store;
}

void MapiSession::ListStores() {
    ReleaseStores();
    const PropTagArray columns = {PR_DISPLAY_NAME, PR_ENTRYID};
    std::shared_ptr<IMAPISession> session = GetSession();
    std::shared_ptr<IMAPITable> table;
    RowSet rows;
    if (Failed(session->GetMsgStoresTable(0, table)) || !table ||
        Failed(HrQueryAllRows(*table, &columns, nullptr, 0, rows))) {
        return;
    }
    for (const Row& row : rows) {
        std::string name = "Unknown";
        if (!row.empty() && row[0].tag == PR_DISPLAY_NAME && row[0].Text() != nullptr) {
            name = *row[0].Text();
        }
        if (row.size() >= 2 && row[1].tag == PR_ENTRYID && row[1].Bin() != nullptr) {
            stores_.emplace_back(name, std::make_unique<MailStore>(name, this, *row[1].Bin()));
        }
    }
}

} // namespace qf
