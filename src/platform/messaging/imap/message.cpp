// Stored messages of the IMAP provider: reading a message (BODY.PEEK[]), its
// read flag, and writing a changed subject or body as a replacement.
#include "platform/messaging/imap/objects.h"
#include "platform/messaging/maildir/recovery.h"
#include "platform/messaging/mime/streams.h"
#include "platform/messaging/modified_utf7.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

namespace qf::mapi::imap {

ImapMessage::ImapMessage(std::shared_ptr<ImapStore> store, std::string mailbox, MessageName name)
    : MimeMessage(store->Origin()), store_(std::move(store)), mailbox_(std::move(mailbox)),
      name_(name) {
    error_.SetComponent(kComponent);
    error_.MirrorTo(&store_->error());
}

std::string ImapMessage::Where() const {
    return "message " + std::to_string(name_.uid) + " of folder \"" + DecodeModifiedUtf7(mailbox_) +
           "\" (account \"" + store_->displayName() + "\")";
}

// Reads the message (a large one in parts); one that was replaced meanwhile
// is read as its replacement.
HRESULT ImapMessage::Load() {
    if (content_) {
        return S_OK;
    }
    Connection& c = store_->connection();
    HRESULT hr = store_->SelectChecked(mailbox_, name_.uidValidity);
    std::string bytes;
    bool large = false;
    if (Succeeded(hr)) {
        hr = store_->ReadMessage(mailbox_, name_, bytes, facts_, large);
    }
    if (hr == MAPI_E_NOT_FOUND) {
        if (const std::uint32_t newer = FindReplacement(c, name_); newer != 0) {
            name_.uid = newer;
            hr = store_->ReadMessage(mailbox_, name_, bytes, facts_, large);
        }
    }
    if (Failed(hr = Loaded(hr, "read"))) {
        return hr;
    }
    if (large) {
        return LoadInParts();
    }
    content_ = mime::ParsedContent::Parse(std::move(bytes));
    return S_OK;
}

// The failure of reading the message, said as the store has it.
HRESULT ImapMessage::Loaded(HRESULT hr, const std::string& doing) {
    if (hr == MAPI_E_NOT_FOUND) {
        return error_.Set(MAPI_E_OBJECT_DELETED, "The " + Where() + " is no longer there");
    }
    if (Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        store_->GetLastError(hr, 0, why);
        return error_.Set(hr, why ? why->error : "Cannot " + doing + " the " + Where());
    }
    return S_OK;
}

// A large message: its shape, then its headers and small parts in one
// command; the large attachments stay on the server until they are read.
// A shape that cannot be followed is read whole, as a small message.
HRESULT ImapMessage::LoadInParts() {
    Connection& c = store_->connection();
    FetchedSummary head;
    HRESULT hr = store_->WithConnection([&] { return c.FetchShape(name_.uid, head); });
    std::optional<PartsPlan> plan;
    std::map<std::string, std::string> sections;
    if (Succeeded(hr) && (plan = PlanParts(*head.shape))) {
        hr = store_->WithConnection(
            [&] { return c.FetchSections(name_.uid, plan->sections, sections); });
    }
    if (Failed(hr = Loaded(hr, "read"))) {
        return hr;
    }
    const std::optional<std::string> text =
        plan ? AssembleParts(head.bytes, *head.shape, sections) : std::nullopt;
    if (text) {
        auto content = mime::ParsedContent::Parse(*text, OmittedContents(*plan));
        // Every part left out must be an attachment: a body read without its
        // text would be wrong.
        if (content->OmittedAttachments() == plan->omitted.size()) {
            facts_.size = head.size;
            content_ = std::move(content);
            return S_OK;
        }
    }
    std::string bytes;
    hr = store_->WithConnection([&] { return c.FetchMessage(name_.uid, bytes, &facts_); });
    if (Failed(hr = Loaded(hr, "read"))) {
        return hr;
    }
    content_ = mime::ParsedContent::Parse(std::move(bytes));
    return S_OK;
}

// Each part left out is read from the server when opened, a piece at a time;
// the server may have reconnected or selected another folder meanwhile.
std::map<std::size_t, mime::OmittedContent>
ImapMessage::OmittedContents(const PartsPlan& plan) const {
    std::map<std::size_t, mime::OmittedContent> contents;
    for (const auto& [leaf, part] : plan.omitted) {
        mime::OmittedContent content;
        content.size = DecodedSizeOf(part);
        content.open = [store = store_, mailbox = mailbox_, name = name_, section = part.section,
                        encoding = part.encoding]() -> std::shared_ptr<IStream> {
            auto fetch = [=](std::uint64_t offset, std::uint32_t length, std::string& chunk) {
                HRESULT hr = store->SelectChecked(mailbox, name.uidValidity);
                if (Succeeded(hr)) {
                    hr = store->WithConnection([&] {
                        return store->connection().FetchPart(name.uid, section, offset, length,
                                                             chunk);
                    });
                }
                return hr;
            };
            return std::make_shared<mime::ChunkedDecodeStream>(encoding, kPartChunk, fetch);
        };
        contents[leaf] = std::move(content);
    }
    return contents;
}

HRESULT ImapMessage::OpenRawStream(std::shared_ptr<IStream>& stream) {
    stream.reset();
    HRESULT hr = Load();
    if (Failed(hr) || !content_->IsPartial()) {
        return Failed(hr) ? hr : MimeMessage::OpenRawStream(stream);
    }
    // The message as the server holds it now, read a piece at a time.
    std::string header;
    if (Failed(hr = FindCurrent(header, true))) {
        return hr;
    }
    stream = std::make_shared<mime::ChunkedDecodeStream>(
        mime::TransferEncoding::Identity, kPartChunk,
        [store = store_, mailbox = mailbox_,
         name = name_](std::uint64_t offset, std::uint32_t length, std::string& chunk) {
            HRESULT r = store->SelectChecked(mailbox, name.uidValidity);
            return Failed(r) ? r : store->WithConnection([&] {
                return store->connection().FetchPart(name.uid, {}, offset, length, chunk);
            });
        });
    return S_OK;
}

mime::MessageFacts ImapMessage::Facts() {
    mime::MessageFacts f = OriginFacts();
    f.folder = mailbox_;
    f.unique = name_.Text();
    f.flags = facts_.seen ? "S" : "";
    f.size = facts_.size;
    if (facts_.internalDate) {
        f.fileTime = FileTimeFromUnix(*facts_.internalDate);
    }
    f.summary = &content_->summary();
    f.hasAttach = content_->HasAttachments();
    f.content = content_.get();
    f.pendingSubject = &pendingSubject_;
    f.pendingBody = &pendingBody_;
    return f;
}

HRESULT ImapMessage::CanModify() {
    Connection& c = store_->connection();
    HRESULT hr = store_->SelectChecked(mailbox_, name_.uidValidity);
    std::vector<FetchedSummary> now;
    if (Succeeded(hr)) {
        hr = store_->WithConnection([&] {
            HRESULT r = c.Refresh();
            return Failed(r) ? r : c.FetchSummaries({name_.uid}, now);
        });
    }
    if (Succeeded(hr) && now.empty() && FindReplacement(c, name_) == 0) {
        return error_.Set(MAPI_E_OBJECT_DELETED, "The " + Where() + " is no longer there");
    }
    if (Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        store_->GetLastError(hr, 0, why);
        return error_.Set(hr, why ? why->error : "Cannot reach the " + Where());
    }
    return S_OK;
}

// Setting a flag twice does no harm: it is simply repeated after a reconnect.
HRESULT ImapMessage::SetReadFlag(std::uint32_t flags) {
    const bool seen = (flags & CLEAR_READ_FLAG) == 0;
    Connection& c = store_->connection();
    HRESULT hr = store_->SelectChecked(mailbox_, name_.uidValidity);
    std::vector<FetchedSummary> now;
    if (Succeeded(hr)) {
        hr = store_->WithConnection([&] {
            HRESULT r = c.Refresh();
            return Failed(r) ? r : c.FetchSummaries({name_.uid}, now);
        });
    }
    if (Succeeded(hr) && now.empty()) {
        return error_.Set(MAPI_E_OBJECT_DELETED, "The " + Where() + " is no longer there");
    }
    if (Succeeded(hr)) {
        hr = store_->WithConnection([&] { return c.SetSeen(name_.uid, seen); });
    }
    if (Failed(hr)) {
        std::optional<MapiErrorInfo> why;
        store_->GetLastError(hr, 0, why);
        return error_.Set(hr, why ? why->error : "Cannot mark the " + Where());
    }
    facts_.seen = seen;
    return S_OK;
}

// The new message is stored first (APPEND), marked as the replacement of the
// old one; only then does the old one go.  A listing finishes the removal a
// stopped process did not do.  The change applies to the message as it is now
// on the server: when another writer replaced it meanwhile, to their version.
HRESULT ImapMessage::SaveChanges(std::uint32_t) {
    if (!pendingSubject_ && !pendingBody_) {
        return S_OK;
    }
    HRESULT hr = Load();
    if (Failed(hr)) {
        return hr;
    }
    // A large message changes on the server: the new texts go around its
    // large parts, which the server puts back in (CATENATE) without them
    // travelling.  Otherwise the whole message is read and sent.
    const bool inParts = content_->IsPartial() && store_->connection().HasCatenate();
    std::string bytes;
    std::vector<CatenatePiece> pieces;
    if (Failed(hr = FindCurrent(bytes, inParts))) {
        return hr;
    }
    if (inParts && !pendingBody_) {
        pieces = {{maildir::MarkAsReplacement(bytes, pendingSubject_, name_.Text()), ""},
                  {"", "TEXT"}};
    } else if (inParts) {
        if (Failed(hr = ChangedInParts(pieces)) ||
            (pieces.empty() && Failed(hr = FindCurrent(bytes, false)))) {
            return hr;
        }
    }
    if (pieces.empty()) {
        if (pendingBody_) {
            // Read whole from the server, the message is never partial here.
            bytes =
                mime::ParsedContent::Parse(std::move(bytes))->WithNewBody(*pendingBody_).value();
        }
        bytes = maildir::MarkAsReplacement(bytes, pendingSubject_, name_.Text());
    }
    const MessageName source = name_;
    hr = AppendReplacement([&](Connection& c) {
        return pieces.empty()
                   ? c.Append(mailbox_, bytes, facts_.seen, facts_.internalDate)
                   : c.AppendCatenated(mailbox_, pieces, facts_.seen, facts_.internalDate,
                                       source.uidValidity, source.uid);
    });
    if (Failed(hr) || Failed(hr = RemoveOld())) {
        return hr;
    }
    const std::uint32_t newer = FindReplacement(store_->connection(), name_);
    if (newer == 0) {
        return error_.Set(MAPI_E_NOT_FOUND, "The changed " + Where() + " cannot be found");
    }
    name_.uid = newer;
    pendingSubject_.reset();
    pendingBody_.reset();
    content_.reset();
    return Load();
}

namespace {

// A line no message holds: it stands for a part's content while the rest of
// the message is changed around it.
std::string NewMarker(std::size_t leaf) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char text[64];
    std::snprintf(text, sizeof text, "QFPART%016llx%016llx%zu",
                  static_cast<unsigned long long>(rng()), static_cast<unsigned long long>(rng()),
                  leaf);
    return text;
}

// `bytes` cut at each marker into texts and the sections the markers stand
// for; nothing unless every marker is there exactly once.
std::vector<CatenatePiece> CutAtMarkers(const std::string& bytes,
                                        const std::map<std::size_t, std::string>& markers,
                                        const PartsPlan& plan) {
    std::vector<std::pair<std::size_t, std::size_t>> found; // position, leaf
    for (const auto& [leaf, marker] : markers) {
        const std::size_t at = bytes.find(marker);
        if (at == std::string::npos || bytes.find(marker, at + 1) != std::string::npos) {
            return {};
        }
        found.emplace_back(at, leaf);
    }
    std::sort(found.begin(), found.end());
    std::vector<CatenatePiece> pieces;
    std::size_t from = 0;
    for (const auto& [at, leaf] : found) {
        pieces.push_back({bytes.substr(from, at - from), ""});
        pieces.push_back({"", SectionName(plan.omitted.at(leaf).section)});
        from = at + markers.at(leaf).size();
    }
    pieces.push_back({bytes.substr(from), ""});
    return pieces;
}

} // namespace

// The message with the pending changes as texts around its large parts,
// which stay on the server; no pieces when it cannot be put so (the message
// is then changed whole).
HRESULT ImapMessage::ChangedInParts(std::vector<CatenatePiece>& pieces) {
    pieces.clear();
    Connection& c = store_->connection();
    FetchedSummary head;
    std::optional<PartsPlan> plan;
    std::map<std::string, std::string> sections;
    HRESULT hr = store_->WithConnection([&] { return c.FetchShape(name_.uid, head); });
    if (Succeeded(hr) && (plan = PlanParts(*head.shape))) {
        hr = store_->WithConnection(
            [&] { return c.FetchSections(name_.uid, plan->sections, sections); });
    }
    if (Failed(hr = Loaded(hr, "read")) || !plan) {
        return hr;
    }
    std::map<std::size_t, std::string> markers;
    for (const auto& entry : plan->omitted) {
        markers[entry.first] = NewMarker(entry.first);
    }
    const auto text = AssembleParts(head.bytes, *head.shape, sections, &markers);
    const auto changed =
        text ? mime::ParsedContent::Parse(*text)->WithNewBody(*pendingBody_) : std::nullopt;
    if (changed) {
        pieces = CutAtMarkers(maildir::MarkAsReplacement(*changed, pendingSubject_, name_.Text()),
                              markers, *plan);
    }
    return S_OK;
}

// The message's bytes (or its header) as the server holds them now,
// following a replacement another writer made.
HRESULT ImapMessage::FindCurrent(std::string& bytes, bool headerOnly) {
    Connection& c = store_->connection();
    auto read = [&] {
        if (!headerOnly) {
            return c.FetchMessage(name_.uid, bytes, &facts_);
        }
        std::vector<FetchedSummary> found;
        HRESULT r = c.FetchSummaries({name_.uid}, found);
        if (Succeeded(r) && found.empty()) {
            r = MAPI_E_NOT_FOUND;
        }
        if (Succeeded(r)) {
            facts_ = std::move(found[0]);
            bytes = std::exchange(facts_.bytes, {});
        }
        return r;
    };
    HRESULT hr = store_->SelectChecked(mailbox_, name_.uidValidity);
    if (Succeeded(hr)) {
        hr = store_->WithConnection([&] {
            HRESULT r = c.Refresh();
            return Failed(r) ? r : read();
        });
    }
    if (hr == MAPI_E_NOT_FOUND) {
        if (const std::uint32_t newer = FindReplacement(c, name_); newer != 0) {
            name_.uid = newer;
            hr = store_->WithConnection(read);
        }
    }
    if (hr == MAPI_E_NOT_FOUND) {
        return error_.Set(MAPI_E_OBJECT_DELETED, "The " + Where() + " is no longer there");
    }
    if (Failed(hr)) {
        return error_.Set(hr, "Cannot read the " + Where() + ": " + c.Failure());
    }
    return S_OK;
}

// An APPEND whose connection was lost may have been stored: it is repeated
// only when no replacement of this message is in the mailbox.
HRESULT ImapMessage::AppendReplacement(const std::function<HRESULT(Connection&)>& append) {
    Connection& c = store_->connection();
    HRESULT hr = c.IsOpen() ? append(c) : MAPI_E_NETWORK_ERROR;
    if (hr == MAPI_E_NETWORK_ERROR) {
        hr = store_->SelectChecked(mailbox_, name_.uidValidity);
        if (Succeeded(hr) && FindReplacement(c, name_) == 0) {
            hr = store_->WithConnection([&] { return append(c); });
        }
    }
    if (Failed(hr)) {
        return error_.Set(hr, "Cannot store the changed " + Where() + ": " + c.Failure());
    }
    return S_OK;
}

HRESULT ImapMessage::RemoveOld() {
    Connection& c = store_->connection();
    HRESULT hr = store_->SelectChecked(mailbox_, name_.uidValidity);
    if (Succeeded(hr)) {
        hr = store_->WithConnection([&] { return c.Remove(name_.uid); });
    }
    if (Failed(hr)) {
        return error_.Set(hr, "Stored the changed " + Where() +
                                  ", but cannot remove the old one: " + c.Failure());
    }
    return S_OK;
}

} // namespace qf::mapi::imap
