#include "mail/store.h"

#include "mail/email.h"
#include "mail/mail_check.h"
#include "mail/session.h"

namespace qf {

using namespace mapi;

namespace {

constexpr std::uint32_t kOpenStoreFlags = MDB_NO_MAIL | MAPI_BEST_ACCESS | MDB_WRITE; // 0x94
constexpr std::uint32_t kOpenFolderFlags = MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS;   // 0x18
constexpr std::int32_t kListBatch = 25;

MailStore& RequireStore(MailStore* store) {
    if (store == nullptr) {
        throw Error("No session");
    }
    return *store;
}

} // namespace

// ---------------------------------------------------------------------------

MailStore::MailStore(std::string displayName, MapiSession* session,
                     const std::vector<std::uint8_t>& id)
    : id_(id), displayName_(std::move(displayName)), session_(session) {}

MailStore::MailStore(std::string displayName, MapiSession* session, const std::uint8_t* id,
                     std::uint32_t size)
    : displayName_(std::move(displayName)), session_(session) {
    id_.SetLength(size);
    id_.CopyFrom(id, size);
}

MailStore::~MailStore() {
    if (msgStore_) {
        std::uint32_t flags = LOGOFF_NO_WAIT;
        msgStore_->StoreLogoff(&flags);
        msgStore_.reset();
    }
    session_ = nullptr;
}

void MailStore::Assign(const MailStore& other) {
    displayName_ = other.displayName_;
    id_ = other.id_;
}

std::shared_ptr<IMsgStore> MailStore::GetMsgStore() {
    if (msgStore_) {
        return msgStore_;
    }
    if (session_ == nullptr) {
        throw Error("No session");
    }
    std::shared_ptr<IMAPISession> session = session_->GetSession();
    std::shared_ptr<IMsgStore> store;
    const HRESULT hr = session->OpenMsgStore(session_->UIParam(), EntryIdBytes(), Iid::IMsgStore,
                                             kOpenStoreFlags, store);
    CheckResult(session, "OpenMsgStore:" + displayName_, hr);
    CheckResult(session, "OpenMsgStore:" + displayName_,
                store ? S_OK : MAPI_E_INTERFACE_NOT_SUPPORTED);
    msgStore_ = std::move(store);
    return msgStore_;
}

// ---------------------------------------------------------------------------

MailFolder::MailFolder(std::uint32_t size, MailStore* store, const std::uint8_t* id)
    : store_(store) {
    id_.SetLength(size);
    id_.CopyFrom(id, size);
}

MailFolder::MailFolder(MailStore* store, const std::vector<std::uint8_t>& id)
    : id_(id), store_(store) {}

MailFolder::~MailFolder() = default;

void MailFolder::Assign(const MailFolder& other) {
    id_ = other.id_;
}

std::shared_ptr<IMAPIFolder> MailFolder::OpenFolder(const std::shared_ptr<IMsgStore>& msgStore) {
    if (mapiFolder_) {
        return mapiFolder_;
    }
    if (!msgStore) {
        CheckResultNoDetails("130", MAPI_E_INVALID_PARAMETER);
    }
    std::uint32_t objectType = 0;
    std::shared_ptr<IUnknown> object;
    const HRESULT hr = msgStore->OpenEntry(EntryIdBytes(), Iid::IMAPIFolder, kOpenFolderFlags,
                                           &objectType, object);
    CheckResult(msgStore, "130", hr);
    std::shared_ptr<IMAPIFolder> folder = As<IMAPIFolder>(object);
    if (!folder) {
        // The identifier names something other than a folder.
        CheckResultNoDetails("130", MAPI_E_INVALID_ENTRYID);
    }
    mapiFolder_ = std::move(folder);
    return mapiFolder_;
}

void MailFolder::UseDefaultInbox() {
    std::shared_ptr<IMsgStore> msgStore = RequireStore(store_).GetMsgStore();
    mapi::EntryId id;
    std::string explicitClass;
    if (Failed(msgStore->GetReceiveFolder("IPM", 0, id, &explicitClass))) {
        throw Error("Failed to find default inbox");
    }
    id_.Assign(id);
}

void MailFolder::ListEmails(std::vector<std::unique_ptr<EmailMessage>>& list) {
    std::shared_ptr<IMsgStore> msgStore = RequireStore(store_).GetMsgStore();
    std::shared_ptr<IMAPIFolder> folder = OpenFolder(msgStore);
    list.clear();
    const SortOrderSet sortOrder = {{PR_CLIENT_SUBMIT_TIME, TABLE_SORT_ASCEND}};

    std::shared_ptr<IMAPITable> table;
    CheckResult(msgStore, "60", folder->GetContentsTable(0, table));
    if (!table) {
        CheckResultNoDetails("60", MAPI_E_CALL_FAILED);
    }
    CheckResult(msgStore, "70", table->SetColumns(MessageColumns(), 0));
    CheckResult(msgStore, "90", table->SortTable(sortOrder, 0));
    std::uint32_t count = 0;
    CheckResult(msgStore, "110", table->GetRowCount(0, &count));
    if (count == 0) {
        return;
    }
    for (;;) {
        RowSet rows;
        CheckResult(msgStore, "120", table->QueryRows(kListBatch, 0, rows));
        if (rows.empty()) {
            break;
        }
        for (const Row& row : rows) {
            auto email = std::make_unique<EmailMessage>();
            email->folder = this;
            email->LoadFields(row);
            list.push_back(std::move(email));
        }
    }
}

void MailFolder::MoveEmail(EmailMessage& email, MailFolder& destination) {
    std::shared_ptr<IMsgStore> msgStore = RequireStore(store_).GetMsgStore();
    std::shared_ptr<IMAPIFolder> source = OpenFolder(msgStore);
    // The destination opens in its own store (the run has opened it already).
    std::shared_ptr<IMAPIFolder> target = destination.OpenFolder(
        destination.Store() != nullptr ? destination.Store()->GetMsgStore() : msgStore);
    if (!email.messageEntryId) {
        // An email without an identifier of its own (an embedded one) cannot move.
        CheckResultNoDetails("150", MAPI_E_INVALID_ENTRYID);
    }
    const EntryList entries = {email.messageEntryId->EntryIdBytes()};
    CheckResult(msgStore, "170",
                source->CopyMessages(entries, Iid::IMAPIFolder, target, 0, nullptr, MESSAGE_MOVE));
}

// ---------------------------------------------------------------------------

std::vector<std::uint8_t> OpenedFolderReference::StoreEntryId() const {
    return store ? store->EntryIdBytes() : std::vector<std::uint8_t>{};
}

std::vector<std::uint8_t> OpenedFolderReference::FolderEntryId() const {
    return folder ? folder->EntryIdBytes() : std::vector<std::uint8_t>{};
}

OpenedFolderReference MakeFolderReference(MapiSession* session, const std::string& storeDisplayName,
                                          const std::vector<std::uint8_t>& storeEntryId,
                                          const std::vector<std::uint8_t>& folderEntryId) {
    OpenedFolderReference ref;
    ref.store = std::make_unique<MailStore>(storeDisplayName, session, storeEntryId);
    ref.folder = std::make_unique<MailFolder>(ref.store.get(), folderEntryId);
    return ref;
}

OpenedFolderReference MakeEmptyFolderReference(MapiSession* session) {
    OpenedFolderReference ref;
    ref.store = std::make_unique<MailStore>(MailStore::kEmptyReferenceName, session, nullptr, 0);
    ref.folder = std::make_unique<MailFolder>(0, ref.store.get(), nullptr);
    return ref;
}

} // namespace qf
