// The objects of the Maildir provider (store, folder, stored message), shared by
// the files that implement them: store.cpp (the store and its message index),
// tables.cpp (folder properties, hierarchy and contents tables), copy.cpp
// (copying and moving) and message.cpp (stored messages and their changes).
#pragma once

#include "platform/messaging/change_batch.h"
#include "platform/messaging/entryid.h"
#include "platform/messaging/maildir/names.h"
#include "platform/messaging/mime/message.h"
#include "platform/messaging/profiles.h"
#include "platform/messaging/props.h"
#include "platform/messaging/provider.h"

#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace qf::mapi::maildir {

inline constexpr const char* kComponent = "Maildir store";
inline constexpr std::uint32_t kSupportMask = STORE_ENTRYID_UNIQUE | STORE_MODIFY_OK |
                                              STORE_ATTACH_OK | STORE_RTF_OK | STORE_SORT_OK |
                                              STORE_HTML_OK | STORE_UNICODE_OK;

FileTime FileTimeOf(const struct stat& st);
// MAPI_E_NOT_ENOUGH_DISK when the disk is full, else MAPI_E_DISK_ERROR.
HRESULT WriteFailure(int err);
// What the store and its folders share: their properties come from the tree, so
// they neither change nor open as objects, and they keep their last failure.
template <class Interface> class TreeObject : public Interface {
public:
    HRESULT GetLastError(HRESULT hr, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        return error_.Get(hr, info);
    }
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override {
        return error_.Set(MAPI_E_NO_ACCESS, what_ + " properties cannot be changed");
    }
    HRESULT OpenProperty(PropTag, Iid, std::uint32_t, std::uint32_t,
                         std::shared_ptr<IUnknown>& object) override {
        object.reset();
        return error_.Set(MAPI_E_NO_SUPPORT, what_ + " properties do not open as objects");
    }
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }

protected:
    // `what` is "Store" or "Folder".
    explicit TreeObject(std::string what) : what_(std::move(what)) {
        error_.SetComponent(kComponent);
    }

    LastError error_;

private:
    std::string what_;
};

class MaildirStore : public TreeObject<IMsgStore>,
                     public std::enable_shared_from_this<MaildirStore> {
public:
    MaildirStore(StoreConfig config, bool isDefault, StoreUid uid);

    const StoreUid& uid() const { return uid_; }
    const std::string& root() const { return root_; }
    LastError& error() { return error_; }
    // What messages of this store take from it.
    mime::MessageOrigin Origin() const { return {uid_, kSupportMask, kComponent}; }
    // The other stores of the profile, where moves out of this store go.
    const std::shared_ptr<const ProfileStores>& profile() const { return profile_; }
    void SetProfile(std::shared_ptr<const ProfileStores> profile) { profile_ = std::move(profile); }

    std::string FolderPath(const std::string& folder) const {
        return folder.empty() ? root_ : root_ + "/" + folder;
    }
    bool FolderExists(const std::string& folder) const;

    // The folder tree (tables.cpp).
    std::vector<std::string> FolderNames() const;
    std::string ParentOf(const std::string& folder, const std::vector<std::string>& all) const;
    static std::string DisplayNameOf(const std::string& folder);
    std::vector<PropValue> FolderProps(const std::string& folder);

    // Finds a message file by its unique name; refreshes the folder's index when
    // the remembered file has gone (renamed by another program, say).
    bool Locate(const std::string& folder, const std::string& unique, MessageFile& found);
    // Locate, else the message that replaced it.
    bool LocateOrReplacement(const std::string& folder, const std::string& unique,
                             MessageFile& found);
    void Forget(const std::string& folder, const std::string& unique);
    void Remember(const std::string& folder, const MessageFile& f);

    // IMsgStore
    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override;
    HRESULT OpenEntry(const EntryId& id, Iid iid, std::uint32_t flags, std::uint32_t* objectType,
                      std::shared_ptr<IUnknown>& object) override;
    HRESULT GetReceiveFolder(const std::string&, std::uint32_t, EntryId& entryId,
                             std::string* explicitClass) override;
    HRESULT StoreLogoff(std::uint32_t*) override { return S_OK; }

private:
    void Reindex(const std::string& folder);
    HRESULT CheckEntry(const EntryId& id, EntryIdParts& parts);
    HRESULT OpenFolderEntry(const EntryIdParts& parts, Iid iid, std::uint32_t* objectType,
                            std::shared_ptr<IUnknown>& object);
    HRESULT OpenMessageEntry(const EntryIdParts& parts, Iid iid, std::uint32_t* objectType,
                             std::shared_ptr<IUnknown>& object);

    StoreConfig config_;
    std::string root_;
    bool isDefault_;
    StoreUid uid_;
    std::shared_ptr<const ProfileStores> profile_;
    std::map<std::string, std::map<std::string, MessageFile>> index_;
};

class MaildirFolder : public TreeObject<IMAPIFolder> {
public:
    MaildirFolder(std::shared_ptr<MaildirStore> store, std::string folder);

    std::string Path() const { return store_->FolderPath(folder_); }

    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override {
        return SelectProps(store_->FolderProps(folder_), tags, values);
    }

    // Listing a folder first finishes what a stopped process left half done there.
    HRESULT GetContentsTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override;
    HRESULT GetHierarchyTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override;
    HRESULT OpenEntry(const EntryId& id, Iid iid, std::uint32_t flags, std::uint32_t* objectType,
                      std::shared_ptr<IUnknown>& object) override;
    HRESULT CopyMessages(const EntryList& messages, Iid, const std::shared_ptr<IMAPIFolder>& dest,
                         std::uintptr_t, void*, std::uint32_t flags) override;
    HRESULT SaveRawMessage(const std::string& bytes, bool read) override;
    HRESULT FindMovedCopy(const std::string& token, bool& found) override;
    HRESULT SaveRawStream(IStream& source, bool read) override;

private:
    // copy.cpp
    HRESULT CopyToOtherProvider(const EntryId& id, IMAPIFolder& dest, bool move);
    HRESULT MoveToOtherProvider(const MessageFile& file, const std::string& bytes,
                                IMAPIFolder& dest);
    HRESULT RemoveMovedOriginal(const MessageFile& file, const std::string& notePath);
    HRESULT CopyOne(const EntryId& id, MaildirFolder& dest, bool move);
    HRESULT FindSource(const EntryId& id, MessageFile& file);
    int RenameInto(const MessageFile& file, MaildirFolder& dest, std::string& to);
    HRESULT CopyAcross(const MessageFile& file, MaildirFolder& dest, bool move);
    HRESULT WriteCopy(const std::string& bytes, MaildirFolder& dest, const std::string& unique,
                      const std::string& flags);
    HRESULT WriteCopyFrom(const std::function<bool(std::string_view&)>& next, MaildirFolder& dest,
                          const std::string& unique, const std::string& flags);

    std::shared_ptr<MaildirStore> store_;
    std::string folder_;
};

// A message file of a folder, read through MIME and changed as store.h says.
class StoredMessage : public mime::MimeMessage {
public:
    StoredMessage(std::shared_ptr<MaildirStore> store, std::string folder, MessageFile file);

    HRESULT SetReadFlag(std::uint32_t flags) override;
    HRESULT SaveChanges(std::uint32_t flags) override;
    // Reads and parses the file under its known name, and decodes the body;
    // a file gone or renamed is left to Load (it asks the store where it is).
    void ReadAhead() override;

protected:
    HRESULT Load() override;
    HRESULT CanModify() override { return S_OK; }
    mime::MessageFacts Facts() override;

private:
    std::string FolderPath() const { return store_->FolderPath(folder_); }
    std::string PathOf(const MessageFile& f) const {
        return FolderPath() + "/" + f.subdir + "/" + f.fileName;
    }
    // Reads and parses the file at its known name; 0 or the errno.
    int ReadFile();
    HRESULT FindCurrentFile(std::uint32_t flags, MessageFile& now);
    HRESULT ChangedBytes(const MessageFile& now, std::string& bytes);
    HRESULT WriteReplacement(const MessageFile& now, const std::string& bytes, MessageFile& next);
    void DeferReplacement(ChangeBatch& batch, const std::string& tmp, const std::string& to,
                          const std::string& old);

    std::shared_ptr<MaildirStore> store_;
    std::string folder_;
    MessageFile file_;
    ino_t inode_ = 0;
    std::int64_t size_ = 0;
    std::optional<FileTime> fileTime_;
};

} // namespace qf::mapi::maildir
