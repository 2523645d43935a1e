// The objects of the IMAP provider (store, folder, stored message), shared by
// the files that implement them: store.cpp (the account, its folders and
// identifiers), folder.cpp (folder properties, hierarchy and contents tables,
// moving and copying) and message.cpp (stored messages and their changes).
//
// One connection per store; its objects use it in turn (a session is never
// shared between threads).  Reads that lose the connection reconnect once and
// are repeated; a change is repeated only after checking that it did not
// happen (see folder.cpp and message.cpp).  A move to another store marks the
// original with a keyword naming the destination folder ("$QfMove." and its
// FolderCode) until the original is removed, so that a listing finishes a move
// the process stopped in (store_moves.h).
#pragma once

#include "platform/messaging/entryid.h"
#include "platform/messaging/imap/connection.h"
#include "platform/messaging/imap/parts.h"
#include "platform/messaging/mime/message.h"
#include "platform/messaging/profiles.h"
#include "platform/messaging/props.h"
#include "platform/messaging/provider.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qf::mapi::imap {

inline constexpr const char* kComponent = "IMAP store";
inline constexpr std::uint32_t kSupportMask = STORE_ENTRYID_UNIQUE | STORE_MODIFY_OK |
                                              STORE_ATTACH_OK | STORE_RTF_OK | STORE_SORT_OK |
                                              STORE_HTML_OK | STORE_UNICODE_OK;

// A message's name in its identifier: "UIDVALIDITY:UID".
struct MessageName {
    std::uint32_t uidValidity = 0;
    std::uint32_t uid = 0;
    std::string Text() const { return std::to_string(uidValidity) + ":" + std::to_string(uid); }
};
std::optional<MessageName> ParseMessageName(const std::string& text);

class ImapStore : public IMsgStore, public std::enable_shared_from_this<ImapStore> {
public:
    ImapStore(StoreConfig config, bool isDefault, StoreUid uid, std::string password);

    HRESULT Connect() {
        return WithConnection([] { return S_OK; });
    }
    const StoreUid& uid() const { return uid_; }
    const std::string& displayName() const { return config_.displayName; }
    LastError& error() { return error_; }
    Connection& connection() { return connection_; }
    mime::MessageOrigin Origin() const { return {uid_, kSupportMask, kComponent}; }
    // The other stores of the profile, where moves out of this store go.
    const std::shared_ptr<const ProfileStores>& profile() const { return profile_; }
    void SetProfile(std::shared_ptr<const ProfileStores> profile) { profile_ = std::move(profile); }

    // Runs a read against the server; when the connection was lost, connects
    // again and runs it once more.  A failure is recorded with the server's reason.
    HRESULT WithConnection(const std::function<HRESULT()>& read);
    // Selects `mailbox` and checks that its UIDVALIDITY is still `uidValidity`.
    HRESULT SelectChecked(const std::string& mailbox, std::uint32_t uidValidity);

    // Whole messages are read ahead in the order the last listing of their
    // mailbox gave, a batch to a command; a message read ahead is handed out
    // once, and dropped when this store changes its flags or its place.
    // MAPI_E_NOT_FOUND when the message is gone.  A message larger than
    // kLargeMessage comes without its bytes (`large`): it is read in parts.
    void RememberListing(const std::string& mailbox, std::uint32_t uidValidity,
                         std::vector<std::uint32_t> uids);
    HRESULT ReadMessage(const std::string& mailbox, const MessageName& name, std::string& bytes,
                        FetchedSummary& facts, bool& large);

    // The account's folders.
    const std::string& Root() const { return root_; }
    HRESULT RefreshMailboxes();
    bool InAccount(const std::string& mailbox) const;
    bool Exists(const std::string& mailbox);
    std::string ParentOf(const std::string& mailbox) const;
    std::string DisplayNameOf(const std::string& mailbox) const;
    std::vector<std::string> ChildrenOf(const std::string& mailbox) const;
    std::vector<PropValue> FolderProps(const std::string& mailbox);

    // IMsgStore
    HRESULT GetLastError(HRESULT hr, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        return error_.Get(hr, info);
    }
    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override;
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override {
        return error_.Set(MAPI_E_NO_ACCESS, "Store properties cannot be changed");
    }
    HRESULT OpenProperty(PropTag, Iid, std::uint32_t, std::uint32_t,
                         std::shared_ptr<IUnknown>& object) override {
        object.reset();
        return error_.Set(MAPI_E_NO_SUPPORT, "Store properties do not open as objects");
    }
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }
    HRESULT OpenEntry(const EntryId& id, Iid iid, std::uint32_t flags, std::uint32_t* objectType,
                      std::shared_ptr<IUnknown>& object) override;
    HRESULT GetReceiveFolder(const std::string&, std::uint32_t, EntryId& entryId,
                             std::string* explicitClass) override;
    HRESULT StoreLogoff(std::uint32_t*) override {
        connection_.Close();
        return S_OK;
    }

private:
    HRESULT CheckEntry(const EntryId& id, EntryIdParts& parts);
    char Separator() const;

    StoreConfig config_;
    bool isDefault_;
    StoreUid uid_;
    std::shared_ptr<const ProfileStores> profile_;
    std::string root_; // the mailbox shown as the IPM subtree
    Connection connection_;
    std::vector<MailboxInfo> mailboxes_;
    bool listed_ = false;
    LastError error_;
    // The last listing's order, and the messages read ahead of their use.
    std::string listedMailbox_;
    std::uint32_t listedUidValidity_ = 0;
    std::vector<std::uint32_t> listedUids_;
    std::map<std::uint32_t, FetchedSummary> readAhead_;
};

class ImapFolder : public IMAPIFolder {
public:
    ImapFolder(std::shared_ptr<ImapStore> store, std::string mailbox);

    const std::string& mailbox() const { return mailbox_; }

    HRESULT GetLastError(HRESULT hr, std::uint32_t, std::optional<MapiErrorInfo>& info) override {
        return error_.Get(hr, info);
    }
    HRESULT GetProps(const PropTagArray* tags, std::uint32_t,
                     std::vector<PropValue>& values) override {
        return SelectProps(store_->FolderProps(mailbox_), tags, values);
    }
    HRESULT SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) override {
        return error_.Set(MAPI_E_NO_ACCESS, "Folder properties cannot be changed");
    }
    HRESULT OpenProperty(PropTag, Iid, std::uint32_t, std::uint32_t,
                         std::shared_ptr<IUnknown>& object) override {
        object.reset();
        return error_.Set(MAPI_E_NO_SUPPORT, "Folder properties do not open as objects");
    }
    HRESULT SaveChanges(std::uint32_t) override { return S_OK; }
    // Listing a folder first finishes the changes a stopped process left half done.
    HRESULT GetContentsTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override;
    HRESULT GetHierarchyTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) override;
    HRESULT OpenEntry(const EntryId& id, Iid iid, std::uint32_t flags, std::uint32_t* objectType,
                      std::shared_ptr<IUnknown>& object) override;
    HRESULT CopyMessages(const EntryList& messages, Iid, const std::shared_ptr<IMAPIFolder>& dest,
                         std::uintptr_t, void*, std::uint32_t flags) override;
    HRESULT SaveRawMessage(const std::string& bytes, bool read) override;
    HRESULT FindMovedCopy(const std::string& token, bool& found) override;

private:
    HRESULT FindMessage(const EntryId& id, MessageName& name);
    HRESULT CopyToOtherStore(const EntryId& id, IMAPIFolder& dest, bool move);
    HRESULT MoveToOtherStore(const MessageName& name, const FetchedSummary& facts,
                             IMAPIFolder& dest);
    HRESULT SaveCopy(const MessageName& name, const FetchedSummary& facts, const std::string& token,
                     IMAPIFolder& dest);
    HRESULT RemoveOriginal(const MessageName& name);
    std::string MoveToken(const MessageName& name) const;
    HRESULT FinishReplacements(std::vector<std::uint32_t>& uids);
    HRESULT FinishMoves(const SelectedInfo& info, std::vector<std::uint32_t>& uids);
    HRESULT CopyOne(const EntryId& id, ImapFolder& dest, bool move);
    HRESULT MoveChecked(const MessageName& name, const std::string& destination);

    std::shared_ptr<ImapStore> store_;
    std::string mailbox_;
    LastError error_;
};

// A message of a mailbox, read on demand through BODY.PEEK[] (a large one in
// parts, see parts.h) and changed as message.cpp says.
class ImapMessage : public mime::MimeMessage {
public:
    ImapMessage(std::shared_ptr<ImapStore> store, std::string mailbox, MessageName name);

    // Reads the message, so that opening one that is gone fails.
    HRESULT Open() { return Load(); }

    HRESULT SetReadFlag(std::uint32_t flags) override;
    HRESULT SaveChanges(std::uint32_t flags) override;
    // A message read in parts gives its bytes read from the server a piece at
    // a time.
    HRESULT OpenRawStream(std::shared_ptr<IStream>& stream) override;

protected:
    HRESULT Load() override;
    // The message (or a replacement of it) must still be on the server.
    HRESULT CanModify() override;
    mime::MessageFacts Facts() override;

private:
    std::string Where() const;
    HRESULT Loaded(HRESULT hr, const std::string& doing);
    HRESULT LoadInParts();
    std::map<std::size_t, mime::OmittedContent> OmittedContents(const PartsPlan& plan) const;
    HRESULT FindCurrent(std::string& bytes, bool headerOnly = false);
    HRESULT ChangedInParts(std::vector<CatenatePiece>& pieces);
    // Runs `append`; when the connection was lost, again only if no
    // replacement of this message reached the mailbox.
    HRESULT AppendReplacement(const std::function<HRESULT(Connection&)>& append);
    HRESULT RemoveOld();

    std::shared_ptr<ImapStore> store_;
    std::string mailbox_;
    MessageName name_;
    FetchedSummary facts_;
};

// The message that replaced `name` in the selected mailbox (it carries the
// replaces-header naming it), or 0.
std::uint32_t FindReplacement(Connection& connection, const MessageName& name);

} // namespace qf::mapi::imap
