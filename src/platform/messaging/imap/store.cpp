#include "platform/messaging/imap/store.h"

#include "platform/messaging/imap/objects.h"
#include "platform/messaging/modified_utf7.h"

#include "common/error.h"
#include "common/fileio.h"
#include "common/text.h"

#include <algorithm>
#include <sys/stat.h>

namespace qf::mapi::imap {

namespace {

constexpr const char* kKind = "imap";
constexpr const char* kDisplay = "IMAP";

const Binary& ProviderUid() {
    static const Binary uid = {0x51, 0x46, 0x49, 0x4d, 0x41, 0x50, 0x34, 0x72,
                               0x31, 0xc2, 0x5d, 0x7e, 0x08, 0xa3, 0x44, 0x19};
    return uid;
}

void Report(std::uint32_t* objectType, std::uint32_t type) {
    if (objectType != nullptr) {
        *objectType = type;
    }
}

bool IsInbox(const std::string& name) {
    return ToLowerAscii(name) == "inbox";
}

// A mailbox name from an identifier: printable, no wildcards, and nothing a
// server that keeps mailboxes as files could take for a path ("/etc",
// "../x"), nor empty components (".a", "a..b" with "." as separator).
bool IsPlausibleMailbox(const std::string& name, char separator) {
    const bool printable = std::none_of(name.begin(), name.end(), [](unsigned char c) {
        return c < 0x20 || c == 0x7f || c == '*' || c == '%';
    });
    if (name.empty() || name.size() > 1000 || !printable || name[0] == '/' || name[0] == '~') {
        return false;
    }
    for (const char sep : {'/', separator}) {
        if (sep == 0) {
            continue;
        }
        std::size_t begin = 0;
        for (;;) {
            const std::size_t end = name.find(sep, begin);
            const std::string part = name.substr(begin, end - begin);
            if (part.empty() || part == "." || part == "..") {
                return false;
            }
            if (end == std::string::npos) {
                break;
            }
            begin = end + 1;
        }
    }
    return true;
}

// The account's password: given at logon, read from a file, or stored in the
// profiles file.
HRESULT PasswordOf(const StoreConfig& config, const StoreLogon& logon, std::string& password,
                   LastError& error) {
    const AccountSettings& a = *config.account;
    switch (a.passwordSource) {
    case PasswordSource::Logon:
        if (!logon.password) {
            return error.Set(MAPI_E_LOGON_FAILED,
                             "No password was given for account \"" + config.displayName + "\"");
        }
        password = *logon.password;
        return S_OK;
    case PasswordSource::Text:
        password = a.password;
        return S_OK;
    case PasswordSource::File:
        break;
    }
    struct stat st {};
    if (::stat(a.passwordFile.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
        return error.Set(MAPI_E_NO_ACCESS, "The password file " + a.passwordFile +
                                               " of account \"" + config.displayName +
                                               "\" may be read by others: make it readable "
                                               "by its owner only (chmod 600)");
    }
    try {
        std::string text = ReadFileBytes(a.passwordFile, 4096);
        password = text.substr(0, text.find_first_of("\r\n"));
    } catch (const Error& e) {
        return error.Set(MAPI_E_LOGON_FAILED, e.what());
    }
    return S_OK;
}

} // namespace

std::optional<MessageName> ParseMessageName(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || text.size() > 21) {
        return std::nullopt;
    }
    auto number = [](const std::string& s, std::uint32_t& out) {
        if (s.find_first_not_of("0123456789") != std::string::npos || s.size() > 10) {
            return false;
        }
        const unsigned long long v = std::stoull(s);
        out = static_cast<std::uint32_t>(v);
        return v > 0 && v <= 0xFFFFFFFFull;
    };
    MessageName name;
    if (!number(text.substr(0, colon), name.uidValidity) ||
        !number(text.substr(colon + 1), name.uid)) {
        return std::nullopt;
    }
    return name;
}

// ---------------------------------------------------------------------------

ImapStore::ImapStore(StoreConfig config, bool isDefault, StoreUid uid, std::string password)
    : config_(std::move(config)), isDefault_(isDefault), uid_(uid),
      root_(config_.account->rootFolder.empty() ? "INBOX" : config_.account->rootFolder),
      connection_(*config_.account, std::move(password), config_.displayName) {
    error_.SetComponent(kComponent);
}

HRESULT ImapStore::WithConnection(const std::function<HRESULT()>& read) {
    HRESULT hr = connection_.IsOpen() ? read() : MAPI_E_NETWORK_ERROR;
    if (hr == MAPI_E_NETWORK_ERROR) {
        hr = connection_.Reconnect();
        if (Succeeded(hr)) {
            hr = read();
        }
    }
    if (Failed(hr)) {
        error_.Set(hr, connection_.Failure());
    }
    return hr;
}

HRESULT ImapStore::SelectChecked(const std::string& mailbox, std::uint32_t uidValidity) {
    SelectedInfo info;
    HRESULT hr = WithConnection([&] { return connection_.Select(mailbox, info); });
    if (Failed(hr)) {
        return hr;
    }
    if (info.uidValidity != uidValidity) {
        return error_.Set(MAPI_E_OBJECT_CHANGED,
                          "The server renumbered the messages of folder \"" +
                              DecodeModifiedUtf7(mailbox) + "\" of account \"" +
                              config_.displayName +
                              "\" (its UIDVALIDITY changed): list the folder again");
    }
    return S_OK;
}

namespace {
// Messages read ahead in one command, and the most bytes kept read ahead.
constexpr std::size_t kReadAheadCount = 25;
constexpr std::size_t kReadAheadBytes = 8u << 20;
} // namespace

void ImapStore::RememberListing(const std::string& mailbox, std::uint32_t uidValidity,
                                std::vector<std::uint32_t> uids) {
    listedMailbox_ = mailbox;
    listedUidValidity_ = uidValidity;
    listedUids_ = std::move(uids);
    readAhead_.clear();
}

HRESULT ImapStore::ReadMessage(const std::string& mailbox, const MessageName& name,
                               std::string& bytes, FetchedSummary& facts, bool& large) {
    large = false;
    const bool listed = mailbox == listedMailbox_ && name.uidValidity == listedUidValidity_;
    if (!listed) {
        readAhead_.clear();
    }
    for (const auto& [changedMailbox, uid] : connection_.TakeChanged()) {
        if (changedMailbox == listedMailbox_) {
            readAhead_.erase(uid);
        }
    }
    if (auto it = readAhead_.find(name.uid); it != readAhead_.end()) {
        facts = std::move(it->second);
        bytes = std::move(facts.bytes);
        facts.bytes.clear();
        readAhead_.erase(it);
        return S_OK;
    }
    readAhead_.clear();
    std::vector<std::uint32_t> batch = {name.uid};
    if (listed) {
        auto at = std::lower_bound(listedUids_.begin(), listedUids_.end(), name.uid);
        // The listing's order is by UID; a run reads on from here.
        for (auto it = at; it != listedUids_.end() && batch.size() < kReadAheadCount; ++it) {
            if (*it != name.uid) {
                batch.push_back(*it);
            }
        }
    }
    std::vector<FetchedSummary> fetched;
    HRESULT hr =
        WithConnection([&] { return connection_.FetchMessages(batch, fetched, kLargeMessage); });
    if (Failed(hr)) {
        return hr;
    }
    std::size_t kept = 0;
    HRESULT result = MAPI_E_NOT_FOUND;
    for (auto& f : fetched) {
        if (f.uid == name.uid) {
            bytes = std::move(f.bytes);
            f.bytes.clear();
            large = !f.hasBody;
            facts = std::move(f);
            result = S_OK;
        } else if (f.hasBody && kept + f.bytes.size() <= kReadAheadBytes) {
            kept += f.bytes.size();
            readAhead_[f.uid] = std::move(f);
        }
    }
    if (result == MAPI_E_NOT_FOUND) {
        error_.Set(result, "Message " + std::to_string(name.uid) + " is no longer in folder \"" +
                               DecodeModifiedUtf7(mailbox) + "\"");
    }
    return result;
}

char ImapStore::Separator() const {
    for (const auto& m : mailboxes_) {
        if (m.separator != 0) {
            return m.separator;
        }
    }
    return 0;
}

HRESULT ImapStore::RefreshMailboxes() {
    std::vector<MailboxInfo> found;
    HRESULT hr = WithConnection([&] { return connection_.List(found); });
    if (Succeeded(hr)) {
        mailboxes_ = std::move(found);
        listed_ = true;
    }
    return hr;
}

bool ImapStore::InAccount(const std::string& mailbox) const {
    if (config_.account->rootFolder.empty() || mailbox == root_) {
        return true;
    }
    const char sep = Separator();
    return sep != 0 && mailbox.size() > root_.size() + 1 && mailbox.rfind(root_ + sep, 0) == 0;
}

bool ImapStore::Exists(const std::string& mailbox) {
    if (!listed_) {
        RefreshMailboxes();
    }
    return std::any_of(mailboxes_.begin(), mailboxes_.end(), [&](const MailboxInfo& m) {
        return m.name == mailbox || (IsInbox(m.name) && IsInbox(mailbox));
    });
}

// The root has no parent.  Below it, a mailbox's parent is the name before its
// last separator; a mailbox at the top of an account shown whole hangs below
// the inbox, as Maildir++ folders do.
std::string ImapStore::ParentOf(const std::string& mailbox) const {
    if (mailbox == root_) {
        return "";
    }
    const char sep = Separator();
    const std::size_t at = sep == 0 ? std::string::npos : mailbox.rfind(sep);
    if (at == std::string::npos || at == 0) {
        return root_;
    }
    std::string parent = mailbox.substr(0, at);
    const bool known = std::any_of(mailboxes_.begin(), mailboxes_.end(), [&](const MailboxInfo& m) {
        return m.selectable && m.name == parent;
    });
    return known ? parent : ParentOf(parent);
}

std::string ImapStore::DisplayNameOf(const std::string& mailbox) const {
    if (mailbox == root_ && config_.account->rootFolder.empty()) {
        return "Inbox";
    }
    const char sep = Separator();
    const std::size_t at = sep == 0 ? std::string::npos : mailbox.rfind(sep);
    return DecodeModifiedUtf7(at == std::string::npos ? mailbox : mailbox.substr(at + 1));
}

std::vector<std::string> ImapStore::ChildrenOf(const std::string& mailbox) const {
    std::vector<std::string> children;
    for (const auto& m : mailboxes_) {
        const bool isRoot = m.name == root_ || (IsInbox(m.name) && IsInbox(root_));
        if (m.selectable && !isRoot && InAccount(m.name) && ParentOf(m.name) == mailbox) {
            children.push_back(m.name);
        }
    }
    std::sort(children.begin(), children.end());
    children.erase(std::unique(children.begin(), children.end()), children.end());
    return children;
}

std::vector<PropValue> ImapStore::FolderProps(const std::string& mailbox) {
    if (!listed_) {
        RefreshMailboxes();
    }
    std::vector<PropValue> props = {
        MakeText(PR_DISPLAY_NAME, DisplayNameOf(mailbox)),
        MakeBinary(PR_ENTRYID, MakeFolderEntryId(uid_, mailbox)),
        MakeBinary(PR_RECORD_KEY, MakeFolderEntryId(uid_, mailbox)),
        MakeBinary(PR_STORE_ENTRYID, MakeStoreEntryId(uid_)),
        MakeLong(PR_OBJECT_TYPE, MAPI_FOLDER),
        MakeLong(PR_FOLDER_TYPE, 1),
        MakeBool(PR_SUBFOLDERS, !ChildrenOf(mailbox).empty()),
    };
    if (mailbox != root_) {
        props.push_back(MakeBinary(PR_PARENT_ENTRYID, MakeFolderEntryId(uid_, ParentOf(mailbox))));
    }
    return props;
}

// ---------------------------------------------------------------------------
// IMsgStore

HRESULT ImapStore::GetProps(const PropTagArray* tags, std::uint32_t,
                            std::vector<PropValue>& values) {
    const std::vector<PropValue> all = {
        MakeText(PR_DISPLAY_NAME, config_.displayName),
        MakeBinary(PR_ENTRYID, MakeStoreEntryId(uid_)),
        MakeBinary(PR_STORE_ENTRYID, MakeStoreEntryId(uid_)),
        MakeBinary(PR_RECORD_KEY, Binary(uid_.begin(), uid_.end())),
        MakeBinary(PR_IPM_SUBTREE_ENTRYID, MakeFolderEntryId(uid_, root_)),
        MakeBinary(PR_MDB_PROVIDER, ProviderUid()),
        MakeLong(PR_STORE_SUPPORT_MASK, kSupportMask),
        MakeBool(PR_DEFAULT_STORE, isDefault_),
        MakeLong(PR_OBJECT_TYPE, MAPI_STORE),
        MakeText(PR_PROVIDER_DISPLAY, kDisplay),
        MakeText(PR_SERVICE_NAME, kKind),
    };
    return SelectProps(all, tags, values);
}

HRESULT ImapStore::GetReceiveFolder(const std::string&, std::uint32_t, EntryId& entryId,
                                    std::string* explicitClass) {
    entryId = MakeFolderEntryId(uid_, InAccount("INBOX") ? std::string("INBOX") : root_);
    if (explicitClass != nullptr) {
        *explicitClass = "IPM";
    }
    return S_OK;
}

HRESULT ImapStore::CheckEntry(const EntryId& id, EntryIdParts& parts) {
    auto parsed = ParseEntryId(id);
    if (!parsed || parsed->store != uid_) {
        return error_.Set(MAPI_E_INVALID_ENTRYID,
                          "The identifier does not name an object of store \"" +
                              config_.displayName + "\"");
    }
    if (parsed->kind != EntryKind::Store &&
        (!IsPlausibleMailbox(parsed->folder, Separator()) || !InAccount(parsed->folder) ||
         (parsed->kind == EntryKind::Message && !ParseMessageName(parsed->message)))) {
        return error_.Set(MAPI_E_INVALID_ENTRYID, "The identifier names a place outside store \"" +
                                                      config_.displayName + "\"");
    }
    parts = std::move(*parsed);
    return S_OK;
}

HRESULT ImapStore::OpenEntry(const EntryId& id, Iid iid, std::uint32_t, std::uint32_t* objectType,
                             std::shared_ptr<IUnknown>& object) {
    object.reset();
    if (!listed_) {
        if (HRESULT hr = RefreshMailboxes(); Failed(hr)) {
            return hr;
        }
    }
    EntryIdParts parts;
    if (id.empty()) {
        parts.kind = EntryKind::Folder;
        parts.folder = root_;
    } else if (HRESULT hr = CheckEntry(id, parts); Failed(hr)) {
        return hr;
    }
    if (parts.kind == EntryKind::Store) {
        object = shared_from_this();
        Report(objectType, MAPI_STORE);
        return S_OK;
    }
    const bool wantsFolder = iid == Iid::IMAPIFolder || iid == Iid::IMAPIContainer;
    if ((parts.kind == EntryKind::Folder && iid == Iid::IMessage) ||
        (parts.kind == EntryKind::Message && wantsFolder)) {
        return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED,
                          "The identifier names another kind of object");
    }
    if (!Exists(parts.folder)) {
        return error_.Set(MAPI_E_NOT_FOUND, "Folder \"" + DecodeModifiedUtf7(parts.folder) +
                                                "\" does not exist in account \"" +
                                                config_.displayName + "\"");
    }
    if (parts.kind == EntryKind::Folder) {
        object = std::make_shared<ImapFolder>(shared_from_this(), parts.folder);
        Report(objectType, MAPI_FOLDER);
        return S_OK;
    }
    auto message = std::make_shared<ImapMessage>(shared_from_this(), parts.folder,
                                                 *ParseMessageName(parts.message));
    if (HRESULT hr = message->Open(); Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        message->GetLastError(hr, 0, why);
        return error_.Set(hr == MAPI_E_OBJECT_DELETED ? MAPI_E_NOT_FOUND : hr,
                          why ? why->error : "Cannot open the message");
    }
    object = message;
    Report(objectType, MAPI_MESSAGE);
    return S_OK;
}

// ---------------------------------------------------------------------------

ProviderInfo Provider() {
    ProviderInfo p;
    p.kind = kKind;
    p.displayName = kDisplay;
    p.uid = ProviderUid();
    p.location = StoreLocation::Server;
    p.open = OpenImapStore;
    return p;
}

HRESULT OpenImapStore(const StoreConfig& config, const StoreLogon& logon,
                      std::shared_ptr<IMsgStore>& store, LastError& error) {
    store.reset();
    if (!config.account) {
        return error.Set(MAPI_E_UNCONFIGURED,
                         "Store \"" + config.displayName + "\" has no account settings");
    }
    std::string password;
    if (HRESULT hr = PasswordOf(config, logon, password, error); Failed(hr)) {
        return hr;
    }
    auto imap = std::make_shared<ImapStore>(config, logon.isDefault,
                                            MakeStoreUid(config.kind, config.Identity()), password);
    if (HRESULT hr = imap->connection().Open(); Failed(hr)) {
        return error.Set(hr, imap->connection().Failure());
    }
    if (HRESULT hr = imap->RefreshMailboxes(); Failed(hr)) {
        return error.Set(hr, imap->connection().Failure());
    }
    imap->SetProfile(logon.profile);
    store = imap;
    return S_OK;
}

} // namespace qf::mapi::imap
