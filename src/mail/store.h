// Reference objects naming a message store and a mail folder by their entry
// identifiers; the platform objects are opened on first use and kept.
#pragma once

#include "common/entry_id.h"
#include "platform/messaging/mapi.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qf {

class EmailMessage;
class MapiSession;

class MailStore {
public:
    // The placeholder name of a store reference that names nothing yet.
    static constexpr const char* kEmptyReferenceName = "(no folder chosen)";

    MailStore(std::string displayName, MapiSession* session, const std::vector<std::uint8_t>& id);
    MailStore(std::string displayName, MapiSession* session, const std::uint8_t* id,
              std::uint32_t size);
    // Logs the platform store off when this object had opened it.
    ~MailStore();
    MailStore(const MailStore&) = delete;
    MailStore& operator=(const MailStore&) = delete;

    // Copies the display name and the identifier; the session and an opened
    // platform store stay as they are.
    void Assign(const MailStore& other);

    // The platform store, opened through the session on first use.  Raises
    // "No session" without a session, else the mail error "OpenMsgStore:<name>".
    std::shared_ptr<mapi::IMsgStore> GetMsgStore();

    // The store's identifier (never below 24 bytes) and its bytes as the platform
    // receives them.
    EntryId& Id() { return id_; }
    const EntryId& Id() const { return id_; }
    const std::vector<std::uint8_t>& EntryIdBytes() const { return id_.Bytes(); }
    const std::string& DisplayName() const { return displayName_; }
    MapiSession* Session() const { return session_; }
    void SetSession(MapiSession* session) { session_ = session; }
    bool IsOpen() const { return msgStore_ != nullptr; }

private:
    EntryId id_;
    std::string displayName_;
    MapiSession* session_ = nullptr;
    std::shared_ptr<mapi::IMsgStore> msgStore_;
};

class MailFolder {
public:
    MailFolder(std::uint32_t size, MailStore* store, const std::uint8_t* id);
    MailFolder(MailStore* store, const std::vector<std::uint8_t>& id);
    ~MailFolder();
    MailFolder(const MailFolder&) = delete;
    MailFolder& operator=(const MailFolder&) = delete;

    // Copies the identifier only (callers copy the store with Store()->Assign).
    void Assign(const MailFolder& other);

    // The platform folder, opened in `msgStore` on first use (mail error "130").
    std::shared_ptr<mapi::IMAPIFolder> OpenFolder(const std::shared_ptr<mapi::IMsgStore>& msgStore);

    // Makes this object name its store's default inbox; raises "Failed to find
    // default inbox" when the store has none.
    void UseDefaultInbox();

    // Empties the list and fills it with one new email per message of the
    // folder, in ascending client-submit-time order, read 25 rows at a time.
    void ListEmails(std::vector<std::unique_ptr<EmailMessage>>& list);

    // Moves an email listed from this folder to `destination`.
    void MoveEmail(EmailMessage& email, MailFolder& destination);

    // The folder's (or, as a message holder, the message's) identifier
    // (never below 24 bytes) and its bytes as the platform receives them.
    EntryId& Id() { return id_; }
    const EntryId& Id() const { return id_; }
    const std::vector<std::uint8_t>& EntryIdBytes() const { return id_.Bytes(); }
    MailStore* Store() const { return store_; }
    bool IsOpen() const { return mapiFolder_ != nullptr; }

private:
    EntryId id_;
    MailStore* store_ = nullptr;
    std::shared_ptr<mapi::IMAPIFolder> mapiFolder_;
};

// A folder reference as the settings record keeps it: a folder object with the
// store object it lies in, both owned here (the folder is released first).
struct OpenedFolderReference {
    std::unique_ptr<MailStore> store;
    std::unique_ptr<MailFolder> folder;

    // The identifiers to keep in settings (each of the recorded size).
    std::vector<std::uint8_t> StoreEntryId() const;
    std::vector<std::uint8_t> FolderEntryId() const;
};

// Builds a reference from stored identifiers, bound to `session`; nothing is
// opened yet.
OpenedFolderReference MakeFolderReference(MapiSession* session, const std::string& storeDisplayName,
                                          const std::vector<std::uint8_t>& storeEntryId,
                                          const std::vector<std::uint8_t>& folderEntryId);
// A reference that names nothing yet: identifiers of size 0 (kept as 24 zero
// bytes) and the placeholder store name.
OpenedFolderReference MakeEmptyFolderReference(MapiSession* session);

} // namespace qf
