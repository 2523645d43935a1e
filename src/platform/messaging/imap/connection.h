// One IMAP session with an account (libetpan's mailimap): connecting with the
// account's TLS mode and certificate checks, logging in, and the commands the
// provider needs, each answering with a MAPI result and, on failure, the
// reason in words (Failure()).
//
// Only UID commands are used, so that a message is never confused with
// another after an expunge.  Bodies are read with BODY.PEEK, which never sets
// \Seen.  Removing a message is always "\Deleted, then UID EXPUNGE of that
// UID": a bare EXPUNGE would also remove what other clients marked deleted.
//
// A lost connection is reported as MAPI_E_NETWORK_ERROR and the session is
// closed; Reconnect() opens a new one.  Deciding whether a command may be
// repeated is the caller's business (objects.h).
#pragma once

#include "platform/messaging/imap/structure.h"
#include "platform/messaging/mapi.h"
#include "platform/messaging/profiles.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct mailimap;
struct mailimap_fetch_att;
struct mailimap_search_key;

namespace qf::mapi::imap {

struct MailboxInfo {
    std::string name;   // as the server names it (modified UTF-7)
    char separator = 0; // 0: the server has no hierarchy
    bool selectable = true;
};

struct SelectedInfo {
    std::uint32_t uidValidity = 0;
    std::uint32_t exists = 0;
    std::vector<std::string> keywords; // the keywords the mailbox's FLAGS name
};

// What one listing fetch gives of a message.
struct FetchedSummary {
    std::uint32_t uid = 0;
    bool seen = false;
    bool deleted = false;
    std::vector<std::string> keywords;
    std::uint32_t size = 0;
    std::optional<std::int64_t> internalDate; // seconds since 1970, UTC
    std::string bytes;                        // the header block, or the whole message read
    std::optional<bool> hasAttachments;       // from BODYSTRUCTURE
    bool hasBody = false;                     // the message's bytes came
    std::size_t wireLength = 0;               // of those bytes as they came (CR LF)
    std::optional<PartShape> shape;           // FetchShape only
};

// A piece of a message the server puts together: a text (LF line ends), or a
// section of a message on the server ("TEXT" for its body, "2.1" for a part's
// content as it lies there).
struct CatenatePiece {
    std::string text;
    std::string section;
};

class Connection {
public:
    // `name` names the account in failures ("Work mail").
    Connection(AccountSettings settings, std::string password, std::string name);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    HRESULT Open();
    HRESULT Reconnect(); // closes, opens, and selects again what was selected
    void Close();
    bool IsOpen() const { return imap_ != nullptr; }
    const std::string& Failure() const { return failure_; }
    bool HasMove() const { return hasMove_; }
    // The server puts a message together from a text and a part of another
    // message (CATENATE, sent with LITERAL+).
    bool HasCatenate() const { return hasCatenate_; }
    // The messages (mailbox, UID) whose flags or place changed since the last
    // call, so that what was read of them before can be dropped.
    std::vector<std::pair<std::string, std::uint32_t>> TakeChanged() {
        return std::exchange(changed_, {});
    }

    HRESULT List(std::vector<MailboxInfo>& mailboxes);
    // Selects the mailbox unless it is selected already (`force`: again).
    HRESULT Select(const std::string& mailbox, SelectedInfo& info, bool force = false);
    const std::string& Selected() const { return selected_; }
    std::uint32_t SelectedUidValidity() const { return selectedInfo_.uidValidity; }

    // Lets the server report what other clients changed (NOOP), so that a
    // message they expunged is no longer found.
    HRESULT Refresh();
    // Every UID of the selected mailbox, ascending.
    HRESULT Uids(std::vector<std::uint32_t>& uids);
    // UID, FLAGS, RFC822.SIZE, INTERNALDATE, the header and BODYSTRUCTURE of
    // the given messages, in one command; messages that no longer exist are
    // left out.
    HRESULT FetchSummaries(const std::vector<std::uint32_t>& uids,
                           std::vector<FetchedSummary>& out);
    // The whole message (BODY.PEEK[]); MAPI_E_NOT_FOUND when it is gone.
    HRESULT FetchMessage(std::uint32_t uid, std::string& bytes, FetchedSummary* facts = nullptr);
    // What FetchSummaries gives of one message, with its shape; MAPI_E_NOT_FOUND
    // when it is gone.
    HRESULT FetchShape(std::uint32_t uid, FetchedSummary& facts);
    // Sections of one message in one command, by their names as FETCH writes
    // them ("HEADER", "2", "2.1.MIME"), with LF line ends as whole messages;
    // MAPI_E_NOT_FOUND when the message is gone.
    HRESULT FetchSections(std::uint32_t uid, const std::vector<std::string>& names,
                          std::map<std::string, std::string>& sections);
    // Up to `length` bytes of a part's content as they lie on the wire, from
    // `offset` on (BODY.PEEK[section]<offset.length>); `section` numbers the
    // part as BODYSTRUCTURE does ({2} or {1, 3}; {} the whole message).  Fewer
    // bytes at the end of the part; MAPI_E_NOT_FOUND when the message is gone.
    HRESULT FetchPart(std::uint32_t uid, const std::vector<std::uint32_t>& section,
                      std::uint64_t offset, std::uint32_t length, std::string& bytes);
    // Several whole messages in one command; those gone are left out.  With a
    // `limit`, a message larger than that (by RFC822.SIZE) comes without its
    // bytes (hasBody false), and no more than `limit` bytes of it travel.
    HRESULT FetchMessages(const std::vector<std::uint32_t>& uids,
                          std::vector<FetchedSummary>& messages, std::uint32_t limit = 0);

    // The most message bytes (bodies and parts) one answer of a server has
    // brought in this process: what reading a message held at once.
    static std::size_t LargestAnswer();
    static void ResetLargestAnswer();
    // UIDs of the selected mailbox whose header `name` contains `value`.
    HRESULT SearchHeader(const std::string& name, const std::string& value,
                         std::vector<std::uint32_t>& uids);
    // UIDs of the selected mailbox that carry `keyword`.
    HRESULT SearchKeyword(const std::string& keyword, std::vector<std::uint32_t>& uids);

    HRESULT SetSeen(std::uint32_t uid, bool seen);
    // Adds or removes a keyword of one message.
    HRESULT SetKeyword(std::uint32_t uid, const std::string& keyword, bool on);
    // Moves one message: UID MOVE, else UID COPY and, when that succeeded,
    // the removal of the original.
    HRESULT Move(std::uint32_t uid, const std::string& destination);
    HRESULT Copy(std::uint32_t uid, const std::string& destination);
    // \Deleted, then UID EXPUNGE of that UID only.
    HRESULT Remove(std::uint32_t uid);
    HRESULT Append(const std::string& mailbox, const std::string& bytes, bool seen,
                   std::optional<std::int64_t> internalDate);
    // Appends a message the server puts together (CATENATE) from texts and
    // sections of message `uid` of the selected mailbox: those never travel.
    HRESULT AppendCatenated(const std::string& mailbox, const std::vector<CatenatePiece>& pieces,
                            bool seen, std::optional<std::int64_t> internalDate,
                            std::uint32_t uidValidity, std::uint32_t uid);

private:
    HRESULT Connect();
    HRESULT Secure();
    HRESULT Login();
    // Turns a libetpan result into a MAPI result, recording the failure.
    HRESULT Check(int r, const std::string& what);
    // One UID SEARCH for `key` (taken over); `what` starts the failure's words.
    HRESULT UidSearch(mailimap_search_key* key, const std::string& what,
                      std::vector<std::uint32_t>& uids);
    // One UID FETCH of `items` (UID is always asked for); the messages that
    // answered, those gone left out.  Takes ownership of `items`.
    HRESULT UidFetch(const std::vector<std::uint32_t>& uids,
                     const std::vector<mailimap_fetch_att*>& items, const std::string& what,
                     std::vector<FetchedSummary>& out, bool withShape = false);

    AccountSettings settings_;
    std::string password_;
    std::string name_;
    mailimap* imap_ = nullptr;
    bool hasMove_ = false;
    bool hasUidPlus_ = false;
    bool hasCatenate_ = false;
    std::string selected_;
    SelectedInfo selectedInfo_;
    std::string failure_;
    std::vector<std::pair<std::string, std::uint32_t>> changed_;
};

} // namespace qf::mapi::imap
