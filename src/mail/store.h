// Reference objects naming a message store and a mail folder by their entry
// identifiers; the platform objects are opened on first use and kept.
#pragma once

#include "platform/messaging/mapi.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qf {

class EmailMessage;
class MapiSession;

// An entry identifier as the mail layer keeps it: opaque bytes of a recorded
// size that is never below 24.
class EntryIdBuffer {
public:
    static constexpr std::uint32_t kMinimumSize = 24;

    // The recorded size becomes n, or 24 when n is below 24.  An unchanged size
    // keeps the bytes; a changed one starts a zeroed buffer.
    void SetEntryIdSize(std::uint32_t n);
    // Copies up to the recorded size from `source` (never more than
    // `sourceSize` bytes; the rest stays zero).  Nothing happens for no source.
    void SetEntryId(const std::uint8_t* source, std::size_t sourceSize);
    void SetEntryId(const std::vector<std::uint8_t>& source) {
        SetEntryId(source.data(), source.size());
    }

    std::uint32_t EntryIdSize() const { return static_cast<std::uint32_t>(bytes_.size()); }
    const std::uint8_t* EntryId() const { return bytes_.data(); }
    // The identifier as the platform receives it (recorded size).
    const std::vector<std::uint8_t>& EntryIdBytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_ = std::vector<std::uint8_t>(kMinimumSize, 0);
};

class MailStore : public EntryIdBuffer {
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

    const std::string& DisplayName() const { return displayName_; }
    MapiSession* Session() const { return session_; }
    void SetSession(MapiSession* session) { session_ = session; }
    bool IsOpen() const { return msgStore_ != nullptr; }

private:
    std::string displayName_;
    MapiSession* session_ = nullptr;
    std::shared_ptr<mapi::IMsgStore> msgStore_;
};

class MailFolder : public EntryIdBuffer {
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

    MailStore* Store() const { return store_; }
    bool IsOpen() const { return mapiFolder_ != nullptr; }

private:
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
