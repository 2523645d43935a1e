// Folders of the IMAP provider: hierarchy and contents tables, and moving and
// copying messages between mailboxes of one account.
#include "platform/messaging/imap/objects.h"
#include "platform/messaging/maildir/recovery.h"
#include "platform/messaging/mime/streams.h"
#include "platform/messaging/modified_utf7.h"
#include "platform/messaging/store_moves.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace qf::mapi::imap {

namespace {

// Summaries are fetched this many messages to a command.
constexpr std::size_t kBatch = 500;
// The keyword that marks the original of a move to another store: this and
// the destination's FolderCode, 40 characters (servers limit a keyword's
// length; Dovecot to 50 by default).
constexpr const char* kMoveKeyword = "$QfMove.";

// The rows of a mailbox's contents table, fetched a batch at a time as they
// are read: the header block and the BODYSTRUCTURE tell every listed property.
class ContentsSource : public TableSource {
public:
    ContentsSource(std::shared_ptr<ImapStore> store, std::string mailbox, std::uint32_t uidValidity,
                   std::vector<std::uint32_t> uids)
        : store_(std::move(store)), mailbox_(std::move(mailbox)), uidValidity_(uidValidity),
          uids_(std::move(uids)), rows_(uids_.size()) {}

    std::size_t RowCount() override { return uids_.size(); }
    PropTagArray DefaultColumns() override {
        return {PR_ENTRYID,      PR_SUBJECT,      PR_SENDER_EMAIL_ADDRESS, PR_MESSAGE_DELIVERY_TIME,
                PR_MESSAGE_SIZE, PR_MESSAGE_FLAGS};
    }
    std::string Component() const override { return kComponent; }

    HRESULT Values(std::size_t row, const PropTagArray& tags, Row& values) override {
        values.clear();
        if (row >= uids_.size()) {
            return MAPI_E_INVALID_PARAMETER;
        }
        if (!rows_[row].fetched) {
            if (HRESULT hr = FetchBatch(row - row % kBatch); Failed(hr)) {
                return hr;
            }
        }
        values = mime::MessageProps(&tags, FactsOf(row));
        return S_OK;
    }

private:
    struct RowState {
        bool fetched = false;
        bool known = false; // false: the message was gone when its batch was fetched
        FetchedSummary summary;
        mime::Summary headers;
        std::optional<bool> hasAttach;
    };

    HRESULT FetchBatch(std::size_t first) {
        const std::size_t last = std::min(first + kBatch, uids_.size());
        const std::vector<std::uint32_t> uids(uids_.begin() + static_cast<std::ptrdiff_t>(first),
                                              uids_.begin() + static_cast<std::ptrdiff_t>(last));
        std::vector<FetchedSummary> fetched;
        HRESULT hr = store_->SelectChecked(mailbox_, uidValidity_);
        if (Succeeded(hr)) {
            hr = store_->WithConnection(
                [&] { return store_->connection().FetchSummaries(uids, fetched); });
        }
        if (Failed(hr)) {
            return hr;
        }
        std::map<std::uint32_t, FetchedSummary*> byUid;
        for (auto& f : fetched) {
            byUid[f.uid] = &f;
        }
        for (std::size_t i = first; i < last; ++i) {
            RowState& st = rows_[i];
            st.fetched = true;
            const auto it = byUid.find(uids_[i]);
            if (it == byUid.end()) {
                continue;
            }
            st.known = true;
            st.summary = std::move(*it->second);
            st.headers = mime::Summarize(mime::SplitHeaders(st.summary.bytes).headers);
            st.hasAttach = mime::HasAttachmentsFromHeaders(st.headers);
            if (!st.hasAttach) {
                st.hasAttach = st.summary.hasAttachments;
            }
            st.summary.bytes.clear();
        }
        return S_OK;
    }

    mime::MessageFacts FactsOf(std::size_t row) const {
        const RowState& st = rows_[row];
        mime::MessageFacts f;
        f.store = store_->uid();
        f.supportMask = kSupportMask;
        f.folder = mailbox_;
        f.unique = MessageName{uidValidity_, uids_[row]}.Text();
        f.flags = st.summary.seen ? "S" : "";
        f.known = st.known;
        f.size = st.summary.size;
        if (st.summary.internalDate) {
            f.fileTime = FileTimeFromUnix(*st.summary.internalDate);
        }
        f.summary = &st.headers;
        f.hasAttach = st.hasAttach;
        return f;
    }

    std::shared_ptr<ImapStore> store_;
    std::string mailbox_;
    std::uint32_t uidValidity_;
    std::vector<std::uint32_t> uids_;
    std::vector<RowState> rows_;
};

// Whether the selected mailbox holds a message whose `header` is `value`, the
// whole of it: the server's search matches text within the header, and the
// token of one move may be the start of another's.
HRESULT HoldsMessage(Connection& c, const std::string& header, const std::string& value,
                     bool& holds) {
    holds = false;
    std::vector<std::uint32_t> uids;
    std::vector<FetchedSummary> heads;
    HRESULT hr = c.SearchHeader(header, value, uids);
    hr = Failed(hr) || uids.empty() ? hr : c.FetchSummaries(uids, heads);
    holds = std::any_of(heads.begin(), heads.end(), [&](const FetchedSummary& h) {
        const auto headers = mime::SplitHeaders(h.bytes).headers;
        return header == kMoveHeader ? CarriesMoveToken(headers, value)
                                     : mime::Summarize(headers).messageId == value;
    });
    return hr;
}

// A header line put before the bytes of another stream (the move's header
// before a message copied as it is read), ending as the message's first line
// ends.
class PrefixedStream : public IStream {
public:
    PrefixedStream(std::string line, IStream& rest) : line_(std::move(line)), rest_(rest) {}
    HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* read) override {
        if (!started_) {
            started_ = true;
            std::string first(64u << 10, '\0');
            std::uint32_t n = 0;
            if (HRESULT hr = rest_.Read(first.data(), static_cast<std::uint32_t>(first.size()), &n);
                Failed(hr)) {
                return hr;
            }
            first.resize(n);
            const std::size_t eol = first.find('\n');
            pending_ =
                line_ +
                (eol != std::string::npos && eol > 0 && first[eol - 1] == '\r' ? "\r\n" : "\n") +
                first;
        }
        if (at_ < pending_.size()) {
            const auto n =
                static_cast<std::uint32_t>(std::min<std::size_t>(count, pending_.size() - at_));
            std::memcpy(buffer, pending_.data() + at_, n);
            at_ += n;
            *read = n;
            return S_OK;
        }
        return rest_.Read(buffer, count, read);
    }
    HRESULT Write(const void*, std::uint32_t, std::uint32_t* written) override {
        if (written != nullptr) {
            *written = 0;
        }
        return STG_E_ACCESSDENIED;
    }
    HRESULT Commit(std::uint32_t) override { return S_OK; }

private:
    std::string line_;
    IStream& rest_;
    bool started_ = false;
    std::string pending_; // the line and the message's first bytes
    std::size_t at_ = 0;
};

} // namespace

std::uint32_t FindReplacement(Connection& connection, const MessageName& name) {
    std::vector<std::uint32_t> uids;
    std::vector<FetchedSummary> heads;
    if (Failed(connection.SearchHeader(maildir::kReplacesHeader, name.Text(), uids)) ||
        Failed(connection.FetchSummaries(uids, heads))) {
        return 0;
    }
    // The search matches text within the header; the names must match whole.
    std::uint32_t newest = 0;
    for (const auto& h : heads) {
        const auto names = maildir::ReplacedNames(mime::SplitHeaders(h.bytes).headers);
        if (std::find(names.begin(), names.end(), name.Text()) != names.end()) {
            newest = std::max(newest, h.uid);
        }
    }
    return newest;
}

ImapFolder::ImapFolder(std::shared_ptr<ImapStore> store, std::string mailbox)
    : store_(std::move(store)), mailbox_(std::move(mailbox)) {
    error_.SetComponent(kComponent);
    error_.MirrorTo(&store_->error());
}

HRESULT ImapFolder::GetContentsTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) {
    table.reset();
    SelectedInfo info;
    std::vector<std::uint32_t> uids;
    Connection& c = store_->connection();
    HRESULT hr = store_->WithConnection([&] {
        HRESULT r = c.Select(mailbox_, info, true);
        return Failed(r) ? r : c.Uids(uids);
    });
    if (Succeeded(hr)) {
        hr = FinishReplacements(uids);
    }
    if (Succeeded(hr)) {
        hr = FinishMoves(info, uids);
    }
    if (Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        store_->GetLastError(hr, 0, why);
        return error_.Set(hr == MAPI_E_NOT_FOUND ? MAPI_E_OBJECT_DELETED : hr,
                          why ? why->error : "Cannot list the folder");
    }
    store_->RememberListing(mailbox_, info.uidValidity, uids);
    table = MakeTable(
        std::make_shared<ContentsSource>(store_, mailbox_, info.uidValidity, std::move(uids)));
    return S_OK;
}

// A replacement carries the names of the messages it replaces: those still
// here are what a stopped process left behind, and go now.
HRESULT ImapFolder::FinishReplacements(std::vector<std::uint32_t>& uids) {
    Connection& c = store_->connection();
    std::vector<std::uint32_t> replacements;
    HRESULT hr = store_->WithConnection(
        [&] { return c.SearchHeader(maildir::kReplacesHeader, "", replacements); });
    if (Failed(hr) || replacements.empty()) {
        return hr;
    }
    std::vector<FetchedSummary> heads;
    hr = store_->WithConnection([&] { return c.FetchSummaries(replacements, heads); });
    if (Failed(hr)) {
        return hr;
    }
    const std::set<std::uint32_t> present(uids.begin(), uids.end());
    std::set<std::uint32_t> leftovers;
    for (const auto& h : heads) {
        for (const std::string& n : maildir::ReplacedNames(mime::SplitHeaders(h.bytes).headers)) {
            const auto name = ParseMessageName(n);
            if (name && name->uidValidity == c.SelectedUidValidity() && name->uid != h.uid &&
                present.count(name->uid) != 0) {
                leftovers.insert(name->uid);
            }
        }
    }
    for (std::uint32_t uid : leftovers) {
        if (Succeeded(store_->WithConnection([&] { return c.Remove(uid); }))) {
            uids.erase(std::remove(uids.begin(), uids.end(), uid), uids.end());
        }
    }
    return S_OK;
}

// A message marked as the original of a move to another store is what a
// stopped process left behind when the destination holds its copy: it goes.
// When the destination does not, the mark goes; when the destination cannot be
// asked, both stay (store_moves.h).
HRESULT ImapFolder::FinishMoves(const SelectedInfo& info, std::vector<std::uint32_t>& uids) {
    Connection& c = store_->connection();
    MovedCopyFinder finder(store_->profile());
    for (const std::string& keyword : info.keywords) {
        if (keyword.rfind(kMoveKeyword, 0) != 0) {
            continue;
        }
        std::vector<std::uint32_t> marked;
        if (HRESULT hr = store_->WithConnection([&] { return c.SearchKeyword(keyword, marked); });
            Failed(hr)) {
            return hr;
        }
        if (marked.empty()) {
            continue;
        }
        CopyState state = CopyState::Unknown;
        const auto dest = finder.FolderOfCode(keyword.substr(std::strlen(kMoveKeyword)), state);
        for (std::uint32_t uid : marked) {
            const CopyState now =
                dest ? finder.Find(*dest, MoveToken(MessageName{info.uidValidity, uid})) : state;
            if (now == CopyState::Unknown) {
                continue;
            }
            const bool found = now == CopyState::Found;
            const HRESULT hr = store_->WithConnection(
                [&] { return found ? c.Remove(uid) : c.SetKeyword(uid, keyword, false); });
            if (found && Succeeded(hr)) {
                uids.erase(std::remove(uids.begin(), uids.end(), uid), uids.end());
            }
        }
    }
    return S_OK;
}

HRESULT ImapFolder::GetHierarchyTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) {
    table.reset();
    if (HRESULT hr = store_->RefreshMailboxes(); Failed(hr)) {
        return error_.Set(hr, store_->connection().Failure());
    }
    std::vector<std::vector<PropValue>> rows;
    for (const auto& child : store_->ChildrenOf(mailbox_)) {
        rows.push_back(store_->FolderProps(child));
    }
    table = MakeTable(std::make_shared<StaticSource>(
        std::move(rows), PropTagArray{PR_DISPLAY_NAME, PR_ENTRYID, PR_SUBFOLDERS}));
    return S_OK;
}

HRESULT ImapFolder::OpenEntry(const EntryId& id, Iid iid, std::uint32_t flags,
                              std::uint32_t* objectType, std::shared_ptr<IUnknown>& object) {
    if (id.empty()) {
        object = std::make_shared<ImapFolder>(store_, mailbox_);
        if (objectType != nullptr) {
            *objectType = MAPI_FOLDER;
        }
        return S_OK;
    }
    HRESULT hr = store_->OpenEntry(id, iid, flags, objectType, object);
    if (Failed(hr)) {
        std::optional<MapiErrorInfo> info;
        store_->GetLastError(hr, 0, info);
        error_.Set(hr, info ? info->error : "Cannot open the entry");
    }
    return hr;
}

HRESULT ImapFolder::CopyMessages(const EntryList& messages, Iid,
                                 const std::shared_ptr<IMAPIFolder>& destination, std::uintptr_t,
                                 void*, std::uint32_t flags) {
    if (!destination) {
        return error_.Set(MAPI_E_INVALID_PARAMETER, "No destination folder");
    }
    auto* dest = dynamic_cast<ImapFolder*>(destination.get());
    const bool sameAccount = dest != nullptr && dest->store_->uid() == store_->uid();
    for (const EntryId& id : messages) {
        const bool move = (flags & MESSAGE_MOVE) != 0;
        HRESULT hr =
            sameAccount ? CopyOne(id, *dest, move) : CopyToOtherStore(id, *destination, move);
        if (Failed(hr)) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT ImapFolder::SaveRawMessage(const std::string& bytes, bool read) {
    Connection& c = store_->connection();
    HRESULT hr = c.IsOpen() ? S_OK : c.Reconnect();
    if (Succeeded(hr)) {
        hr = c.Append(mailbox_, bytes, read, std::nullopt);
    }
    if (hr == MAPI_E_NETWORK_ERROR) {
        // The message may have been stored before the connection went: it is
        // looked for by its move token (the copy of a move carries one), else
        // by its Message-ID, before it is stored again, and without either it
        // is not stored again.
        const auto headers = mime::SplitHeaders(bytes).headers;
        const auto token = mime::HeaderWords(headers, kMoveHeader);
        const std::string header = token.size() == 1 ? kMoveHeader : "Message-ID";
        const std::string value = token.size() == 1 ? token[0] : mime::Summarize(headers).messageId;
        bool stored = false;
        SelectedInfo info;
        if (!value.empty() && Succeeded(hr = c.Reconnect()) &&
            Succeeded(hr = c.Select(mailbox_, info, true)) &&
            Succeeded(hr = HoldsMessage(c, header, value, stored)) && !stored) {
            hr = c.Append(mailbox_, bytes, read, std::nullopt);
        }
    }
    if (Failed(hr)) {
        return error_.Set(hr, c.Failure());
    }
    return S_OK;
}

// The message an identifier names in this folder, still on the server.
HRESULT ImapFolder::FindMessage(const EntryId& id, MessageName& name) {
    auto parts = ParseEntryId(id);
    const auto parsed = parts ? ParseMessageName(parts->message) : std::nullopt;
    if (!parts || parts->kind != EntryKind::Message || parts->store != store_->uid() || !parsed) {
        return error_.Set(MAPI_E_INVALID_ENTRYID, "The identifier does not name a message here");
    }
    if (parts->folder != mailbox_) {
        return error_.Set(MAPI_E_NOT_FOUND,
                          "The message is not in folder \"" + DecodeModifiedUtf7(mailbox_) + "\"");
    }
    name = *parsed;
    HRESULT hr = store_->SelectChecked(mailbox_, name.uidValidity);
    std::vector<FetchedSummary> here;
    if (Succeeded(hr)) {
        // A UID command on a message that is gone succeeds doing nothing.
        hr = store_->WithConnection([&] {
            HRESULT r = store_->connection().Refresh();
            return Failed(r) ? r : store_->connection().FetchSummaries({name.uid}, here);
        });
    }
    if (Succeeded(hr) && here.empty()) {
        return error_.Set(MAPI_E_NOT_FOUND, "Message " + std::to_string(name.uid) +
                                                " is no longer in folder \"" +
                                                DecodeModifiedUtf7(mailbox_) + "\"");
    }
    if (Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        store_->GetLastError(hr, 0, why);
        return error_.Set(hr, why ? why->error : "Cannot reach the message");
    }
    return S_OK;
}

HRESULT ImapFolder::FindMovedCopy(const std::string& token, bool& found) {
    found = false;
    Connection& c = store_->connection();
    HRESULT hr = store_->WithConnection([&] {
        SelectedInfo info;
        HRESULT r = c.Select(mailbox_, info, true);
        return Failed(r) ? r : HoldsMessage(c, kMoveHeader, token, found);
    });
    return Failed(hr) ? error_.Set(hr, c.Failure()) : S_OK;
}

// The token the copy of a move of message `name` carries: the same whenever
// the message is moved, so that a listing can ask for it again.
std::string ImapFolder::MoveToken(const MessageName& name) const {
    return FolderCode(MakeFolderEntryId(store_->uid(), mailbox_)) + "." +
           std::to_string(name.uidValidity) + "." + std::to_string(name.uid);
}

// A folder of another store receives the message's bytes; the original goes
// only once the destination has stored them.
HRESULT ImapFolder::CopyToOtherStore(const EntryId& id, IMAPIFolder& dest, bool move) {
    MessageName name;
    if (HRESULT hr = FindMessage(id, name); Failed(hr)) {
        return hr;
    }
    // A large message goes to the destination as it is read, a piece at a time.
    Connection& c = store_->connection();
    std::vector<FetchedSummary> found;
    HRESULT hr =
        store_->WithConnection([&] { return c.FetchMessages({name.uid}, found, kLargeMessage); });
    if (Failed(hr)) {
        return error_.Set(hr, c.Failure());
    }
    if (found.empty()) {
        return error_.Set(MAPI_E_NOT_FOUND, "Message " + std::to_string(name.uid) +
                                                " is no longer in folder \"" +
                                                DecodeModifiedUtf7(mailbox_) + "\"");
    }
    if (move) {
        return MoveToOtherStore(name, found[0], dest);
    }
    if (hr = SaveCopy(name, found[0], "", dest); Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        dest.GetLastError(hr, 0, why);
        return error_.Set(hr, why ? why->error : "The destination did not store the message");
    }
    return S_OK;
}

// Stores the message's bytes in `dest`, carrying the move's `token` when there
// is one.  A message read without its large parts goes to the destination as
// it is read from the server, a piece at a time.
HRESULT ImapFolder::SaveCopy(const MessageName& name, const FetchedSummary& facts,
                             const std::string& token, IMAPIFolder& dest) {
    if (facts.hasBody) {
        return dest.SaveRawMessage(
            token.empty() ? facts.bytes : MarkAsMovedCopy(facts.bytes, token), facts.seen);
    }
    Connection& c = store_->connection();
    mime::ChunkedDecodeStream source(
        mime::TransferEncoding::Identity, kPartChunk,
        [&](std::uint64_t offset, std::uint32_t length, std::string& chunk) {
            HRESULT r = store_->SelectChecked(mailbox_, name.uidValidity);
            return Failed(r) ? r : store_->WithConnection([&] {
                return c.FetchPart(name.uid, {}, offset, length, chunk);
            });
        });
    if (token.empty()) {
        return dest.SaveRawStream(source, facts.seen);
    }
    PrefixedStream marked(std::string(kMoveHeader) + ": " + token, source);
    return dest.SaveRawStream(marked, facts.seen);
}

// The original is marked with the destination's keyword before the copy is
// stored, and the copy carries the move's token, so that a listing finishes a
// move the process stopped in (store_moves.h).  A mark an earlier, interrupted
// move to the same folder left is settled first: when its copy arrived, the
// move is done.  A server that keeps no keywords moves without the mark.
HRESULT ImapFolder::MoveToOtherStore(const MessageName& name, const FetchedSummary& facts,
                                     IMAPIFolder& dest) {
    std::optional<PropValue> destId;
    if (Failed(HrGetOneProp(dest, PR_ENTRYID, destId)) || destId->Bin() == nullptr) {
        return error_.Set(MAPI_E_INVALID_PARAMETER, "The destination folder has no identifier");
    }
    Connection& c = store_->connection();
    const std::string keyword = kMoveKeyword + FolderCode(*destId->Bin());
    const std::string token = MoveToken(name);
    bool copied = false;
    if (std::find(facts.keywords.begin(), facts.keywords.end(), keyword) != facts.keywords.end() &&
        Succeeded(dest.FindMovedCopy(token, copied)) && copied) {
        return RemoveOriginal(name);
    }
    store_->WithConnection([&] { return c.SetKeyword(name.uid, keyword, true); });
    ReachedMoveStep(MoveStep::NoteWritten);
    if (HRESULT hr = SaveCopy(name, facts, token, dest); Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        dest.GetLastError(hr, 0, why);
        return error_.Set(hr, why ? why->error : "The destination did not store the message");
    }
    ReachedMoveStep(MoveStep::CopyStored);
    return RemoveOriginal(name);
}

HRESULT ImapFolder::RemoveOriginal(const MessageName& name) {
    Connection& c = store_->connection();
    HRESULT hr = store_->SelectChecked(mailbox_, name.uidValidity);
    if (Succeeded(hr)) {
        hr = store_->WithConnection([&] { return c.Remove(name.uid); });
    }
    if (Failed(hr)) {
        return error_.Set(hr, "Copied, but cannot remove the original: " + c.Failure());
    }
    return S_OK;
}

HRESULT ImapFolder::CopyOne(const EntryId& id, ImapFolder& dest, bool move) {
    MessageName name;
    if (HRESULT hr = FindMessage(id, name); Failed(hr)) {
        return hr;
    }
    if (move && dest.mailbox_ == mailbox_) {
        return S_OK;
    }
    HRESULT hr = move ? MoveChecked(name, dest.mailbox_) : store_->WithConnection([&] {
        return store_->connection().Copy(name.uid, dest.mailbox_);
    });
    if (Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        store_->GetLastError(hr, 0, why);
        return error_.Set(hr, why ? why->error : "Cannot move the message");
    }
    return S_OK;
}

// A move whose connection was lost may have happened: it is repeated only when
// the message is still where it was.  (Without MOVE a copy may have been made
// already: the destination is searched for the message before copying again.)
HRESULT ImapFolder::MoveChecked(const MessageName& name, const std::string& destination) {
    Connection& c = store_->connection();
    HRESULT hr = c.IsOpen() ? c.Move(name.uid, destination) : MAPI_E_NETWORK_ERROR;
    if (hr != MAPI_E_NETWORK_ERROR) {
        return Failed(hr) ? store_->error().Set(hr, c.Failure()) : hr;
    }
    if (HRESULT again = store_->SelectChecked(mailbox_, name.uidValidity); Failed(again)) {
        return again;
    }
    std::vector<FetchedSummary> still;
    hr = store_->WithConnection([&] { return c.FetchSummaries({name.uid}, still); });
    if (Failed(hr) || still.empty()) {
        return hr; // gone: the move happened
    }
    if (!c.HasMove()) {
        const std::string messageId =
            mime::Summarize(mime::SplitHeaders(still[0].bytes).headers).messageId;
        SelectedInfo info;
        bool copied = false;
        if (!messageId.empty() && Succeeded(c.Select(destination, info)) &&
            Succeeded(HoldsMessage(c, "Message-ID", messageId, copied)) && copied) {
            hr = store_->SelectChecked(mailbox_, name.uidValidity);
            return Failed(hr) ? hr : store_->WithConnection([&] { return c.Remove(name.uid); });
        }
        if (HRESULT back = store_->SelectChecked(mailbox_, name.uidValidity); Failed(back)) {
            return back;
        }
    }
    return store_->WithConnection([&] { return c.Move(name.uid, destination); });
}

} // namespace qf::mapi::imap
