#include "platform/messaging/maildir/store.h"

#include "platform/messaging/maildir/objects.h"
#include "platform/messaging/maildir/recovery.h"

#include <cerrno>
#include <cstdlib>

namespace qf::mapi::maildir {

namespace {

constexpr const char* kKind = "maildir";
constexpr const char* kDisplay = "Maildir";

const Binary& ProviderUid() {
    static const Binary uid = {0x51, 0x46, 0x4d, 0x44, 0x69, 0x72, 0x2b, 0x2b,
                               0x9a, 0x17, 0x4e, 0x0b, 0x8c, 0x55, 0x21, 0x03};
    return uid;
}

void Report(std::uint32_t* objectType, std::uint32_t type) {
    if (objectType != nullptr) {
        *objectType = type;
    }
}

} // namespace

FileTime FileTimeOf(const struct stat& st) {
    return FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

HRESULT WriteFailure(int err) {
    return err == ENOSPC ? MAPI_E_NOT_ENOUGH_DISK : MAPI_E_DISK_ERROR;
}

// ---------------------------------------------------------------------------
// The store and its message index

MaildirStore::MaildirStore(StoreConfig config, bool isDefault, StoreUid uid)
    : TreeObject("Store"), config_(std::move(config)), root_(config_.location),
      isDefault_(isDefault), uid_(uid) {}

bool MaildirStore::FolderExists(const std::string& folder) const {
    const std::string p = FolderPath(folder);
    return IsDirectory(p) && IsDirectory(p + "/cur");
}

bool MaildirStore::Locate(const std::string& folder, const std::string& unique,
                          MessageFile& found) {
    auto& index = index_[folder];
    auto it = index.find(unique);
    if (it != index.end()) {
        struct stat st {};
        const std::string path =
            FolderPath(folder) + "/" + it->second.subdir + "/" + it->second.fileName;
        if (::lstat(path.c_str(), &st) == 0) {
            found = it->second;
            return true;
        }
    }
    Reindex(folder);
    it = index.find(unique);
    if (it == index.end()) {
        return false;
    }
    found = it->second;
    return true;
}

bool MaildirStore::LocateOrReplacement(const std::string& folder, const std::string& unique,
                                       MessageFile& found) {
    if (Locate(folder, unique, found)) {
        return true;
    }
    if (auto replacement = FindReplacement(FolderPath(folder), unique)) {
        found = std::move(*replacement);
        return true;
    }
    return false;
}

void MaildirStore::Reindex(const std::string& folder) {
    auto& index = index_[folder];
    index.clear();
    for (auto& f : ListMessageFiles(FolderPath(folder))) {
        index[f.unique] = f;
    }
}

void MaildirStore::Forget(const std::string& folder, const std::string& unique) {
    index_[folder].erase(unique);
}

void MaildirStore::Remember(const std::string& folder, const MessageFile& f) {
    index_[folder][f.unique] = f;
}

// ---------------------------------------------------------------------------
// IMsgStore

HRESULT MaildirStore::GetProps(const PropTagArray* tags, std::uint32_t,
                               std::vector<PropValue>& values) {
    const std::vector<PropValue> all = {
        MakeText(PR_DISPLAY_NAME, config_.displayName),
        MakeBinary(PR_ENTRYID, MakeStoreEntryId(uid_)),
        MakeBinary(PR_STORE_ENTRYID, MakeStoreEntryId(uid_)),
        MakeBinary(PR_RECORD_KEY, Binary(uid_.begin(), uid_.end())),
        MakeBinary(PR_IPM_SUBTREE_ENTRYID, MakeFolderEntryId(uid_, "")),
        MakeBinary(PR_MDB_PROVIDER, ProviderUid()),
        MakeLong(PR_STORE_SUPPORT_MASK, kSupportMask),
        MakeBool(PR_DEFAULT_STORE, isDefault_),
        MakeLong(PR_OBJECT_TYPE, MAPI_STORE),
        MakeText(PR_PROVIDER_DISPLAY, kDisplay),
        MakeText(PR_SERVICE_NAME, kKind),
    };
    return SelectProps(all, tags, values);
}

HRESULT MaildirStore::GetReceiveFolder(const std::string&, std::uint32_t, EntryId& entryId,
                                       std::string* explicitClass) {
    if (!FolderExists("")) {
        entryId.clear();
        return error_.Set(MAPI_E_NOT_FOUND, "No inbox at " + root_);
    }
    entryId = MakeFolderEntryId(uid_, "");
    if (explicitClass != nullptr) {
        *explicitClass = "IPM";
    }
    return S_OK;
}

HRESULT MaildirStore::OpenEntry(const EntryId& id, Iid iid, std::uint32_t,
                                std::uint32_t* objectType, std::shared_ptr<IUnknown>& object) {
    object.reset();
    if (id.empty()) {
        if (!FolderExists("")) {
            return error_.Set(MAPI_E_NOT_FOUND, "No Maildir at " + root_);
        }
        object = std::make_shared<MaildirFolder>(shared_from_this(), "");
        Report(objectType, MAPI_FOLDER);
        return S_OK;
    }
    EntryIdParts parts;
    if (HRESULT hr = CheckEntry(id, parts); Failed(hr)) {
        return hr;
    }
    switch (parts.kind) {
    case EntryKind::Store:
        if (iid != Iid::IMsgStore && iid != Iid::IMAPIProp && iid != Iid::None) {
            return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "The identifier names a store");
        }
        object = shared_from_this();
        Report(objectType, MAPI_STORE);
        return S_OK;
    case EntryKind::Folder:
        return OpenFolderEntry(parts, iid, objectType, object);
    case EntryKind::Message:
        return OpenMessageEntry(parts, iid, objectType, object);
    }
    return error_.Set(MAPI_E_INVALID_ENTRYID, "Unknown identifier kind");
}

// An identifier read back from a file is untrusted: it must name an object of
// this store, inside it.
HRESULT MaildirStore::CheckEntry(const EntryId& id, EntryIdParts& parts) {
    auto parsed = ParseEntryId(id);
    if (!parsed || parsed->store != uid_) {
        return error_.Set(MAPI_E_INVALID_ENTRYID,
                          "The identifier does not name an object of store \"" +
                              config_.displayName + "\"");
    }
    if (!IsValidFolderName(parsed->folder) ||
        (parsed->kind == EntryKind::Message && !IsValidUniqueName(parsed->message))) {
        return error_.Set(MAPI_E_INVALID_ENTRYID, "The identifier names a place outside store \"" +
                                                      config_.displayName + "\"");
    }
    parts = std::move(*parsed);
    return S_OK;
}

HRESULT MaildirStore::OpenFolderEntry(const EntryIdParts& parts, Iid iid, std::uint32_t* objectType,
                                      std::shared_ptr<IUnknown>& object) {
    if (iid == Iid::IMessage) {
        return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "The identifier names a folder");
    }
    if (!FolderExists(parts.folder)) {
        return error_.Set(MAPI_E_NOT_FOUND,
                          "Folder " + FolderPath(parts.folder) + " does not exist");
    }
    object = std::make_shared<MaildirFolder>(shared_from_this(), parts.folder);
    Report(objectType, MAPI_FOLDER);
    return S_OK;
}

HRESULT MaildirStore::OpenMessageEntry(const EntryIdParts& parts, Iid iid,
                                       std::uint32_t* objectType,
                                       std::shared_ptr<IUnknown>& object) {
    if (iid == Iid::IMAPIFolder || iid == Iid::IMAPIContainer) {
        return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "The identifier names a message");
    }
    MessageFile file;
    if (!FolderExists(parts.folder) || !LocateOrReplacement(parts.folder, parts.message, file)) {
        return error_.Set(MAPI_E_NOT_FOUND,
                          "Message " + parts.message + " is not in " + FolderPath(parts.folder));
    }
    object = std::make_shared<StoredMessage>(shared_from_this(), parts.folder, file);
    Report(objectType, MAPI_MESSAGE);
    return S_OK;
}

// ---------------------------------------------------------------------------

ProviderInfo Provider() {
    ProviderInfo p;
    p.kind = kKind;
    p.displayName = kDisplay;
    p.uid = ProviderUid();
    p.location = StoreLocation::Folder;
    p.open = OpenMaildirStore;
    return p;
}

HRESULT OpenMaildirStore(const StoreConfig& config, const StoreLogon& logon,
                         std::shared_ptr<IMsgStore>& store, LastError& error) {
    store.reset();
    struct stat st {};
    if (::stat(config.location.c_str(), &st) != 0) {
        return error.Set(MAPI_E_NOT_FOUND, "Maildir " + config.location, errno);
    }
    if (!S_ISDIR(st.st_mode) || !IsDirectory(config.location + "/cur")) {
        return error.Set(MAPI_E_CORRUPT_STORE,
                         "Maildir " + config.location + " has no cur/ folder: not a Maildir");
    }
    // The store works on the real path, so a root reached through a symbolic link
    // (~/Maildir -> /data/mail) is still its own folder.
    StoreConfig real = config;
    if (char* resolved = ::realpath(config.location.c_str(), nullptr)) {
        real.location = resolved;
        std::free(resolved);
    }
    auto maildir = std::make_shared<MaildirStore>(real, logon.isDefault,
                                                  MakeStoreUid(config.kind, config.Identity()));
    maildir->SetProfile(logon.profile);
    store = maildir;
    return S_OK;
}

} // namespace qf::mapi::maildir
