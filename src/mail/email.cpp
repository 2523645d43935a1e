#include "mail/email.h"

#include "common/fileio.h"
#include "mail/mail_check.h"
#include "mail/store.h"

#include <array>
#include <cctype>

namespace qf {

using namespace mapi;

namespace {

constexpr std::uint32_t kReadChunk = 4095;
constexpr std::uint32_t kOpenAttachFlags = MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS; // 0x18
constexpr std::uint32_t kWriteStreamFlags =
    MAPI_MODIFY | MAPI_CREATE | MAPI_DEFERRED_ERRORS; // 0x0B

std::string UpperAscii(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return upper;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The value at column `index` when it carries `tag`.
const PropValue* Column(const std::vector<PropValue>& values, std::size_t index, PropTag tag) {
    if (index < values.size() && values[index].tag == tag) {
        return &values[index];
    }
    return nullptr;
}

const std::string* TextColumn(const std::vector<PropValue>& values, std::size_t index,
                              PropTag tag) {
    const PropValue* value = Column(values, index, tag);
    return value != nullptr ? value->Text() : nullptr;
}

const std::int32_t* LongColumn(const std::vector<PropValue>& values, std::size_t index,
                               PropTag tag) {
    const PropValue* value = Column(values, index, tag);
    return value != nullptr ? value->Long() : nullptr;
}

// The email changed or was replaced since it was opened.
bool IsConflict(HRESULT hr) {
    return hr == MAPI_E_OBJECT_CHANGED || hr == MAPI_E_OBJECT_DELETED;
}

// Reads a stream to its end, 4095 bytes at a time, handing each piece to
// `sink`.  A failed read shows the stream notice and then raises the mail
// error with the same label, so that a part of the data is never taken for
// the whole.
template <class Details, class Sink>
void CopyStream(IStream& stream, const std::string& firstLabel, const std::string& laterLabel,
                Details* details, Sink&& sink) {
    std::array<char, kReadChunk + 1> buffer{};
    bool first = true;
    for (;;) {
        buffer.fill(0);
        std::uint32_t delivered = 0;
        const HRESULT hr = stream.Read(buffer.data(), kReadChunk, &delivered);
        const std::string& label = first ? firstLabel : laterLabel;
        first = false;
        if (CheckStreamResult(label, hr)) {
            CheckResult(details, label, hr);
        }
        if (delivered > kReadChunk) {
            CheckResult(details, label, STG_E_INVALIDPOINTER);
        }
        if (delivered == 0) {
            break;
        }
        sink(std::string_view(buffer.data(), delivered), label);
    }
}

template <class Details>
std::string ReadWholeStream(IStream& stream, const std::string& firstLabel,
                            const std::string& laterLabel, Details* details,
                            std::size_t maxBytes = kNoSizeLimit) {
    std::string content;
    CopyStream(stream, firstLabel, laterLabel, details,
               [&](std::string_view piece, const std::string& label) {
                   if (piece.size() > maxBytes - content.size()) {
                       CheckResult(details, label, MAPI_E_NOT_ENOUGH_MEMORY);
                   }
                   content.append(piece);
               });
    return content;
}

} // namespace

const PropTagArray& MessageColumns() {
    static const PropTagArray columns = {
        PR_HASATTACH,     PR_STORE_SUPPORT_MASK,
        PR_DISPLAY_TO,    PR_SENDER_EMAIL_ADDRESS,
        PR_MESSAGE_FLAGS, PR_SUBJECT,
        PR_MESSAGE_SIZE,  PR_MESSAGE_DELIVERY_TIME,
        PR_ENTRYID,
    };
    return columns;
}

EmailMessage::EmailMessage() = default;
EmailMessage::~EmailMessage() = default;

void EmailMessage::LoadFields(const std::vector<PropValue>& values) {
    if (const PropValue* v = Column(values, 0, PR_HASATTACH); v != nullptr && v->Bool()) {
        hasAttachments = *v->Bool();
    }
    if (const std::int32_t* v = LongColumn(values, 1, PR_STORE_SUPPORT_MASK)) {
        storeSupportMask = static_cast<std::uint32_t>(*v);
    }
    if (const std::string* v = TextColumn(values, 2, PR_DISPLAY_TO)) {
        displayTo = *v;
    }
    if (const std::string* v = TextColumn(values, 3, PR_SENDER_EMAIL_ADDRESS)) {
        senderAddress = *v;
    }
    if (const std::int32_t* v = LongColumn(values, 4, PR_MESSAGE_FLAGS)) {
        messageFlags = static_cast<std::uint32_t>(*v);
    }
    if (const std::string* v = TextColumn(values, 5, PR_SUBJECT)) {
        subject = *v;
    }
    if (const std::int32_t* v = LongColumn(values, 6, PR_MESSAGE_SIZE)) {
        messageSize = *v;
    }
    if (const PropValue* v = Column(values, 7, PR_MESSAGE_DELIVERY_TIME); v && v->Time()) {
        deliveryTime = FileTimeToLocalDateTime(v->Time()->ticks);
    }
    if (const PropValue* v = Column(values, 8, PR_ENTRYID); v && v->Bin()) {
        messageEntryId =
            std::make_unique<MailFolder>(folder != nullptr ? folder->Store() : nullptr, *v->Bin());
    }
}

// ---------------------------------------------------------------------------
// Opening

std::shared_ptr<IMsgStore> EmailMessage::ErrorSource() {
    if (folder == nullptr || folder->Store() == nullptr) {
        return nullptr;
    }
    try {
        return folder->Store()->GetMsgStore();
    } catch (const Error&) {
        return nullptr;
    }
}

std::shared_ptr<IMessage> EmailMessage::OpenMessage() {
    if (mapiMessage) {
        return mapiMessage;
    }
    if (embedded_ || !messageEntryId || folder == nullptr || folder->Store() == nullptr) {
        // Nothing to open the email by: never reopen through a missing identifier.
        CheckResultNoDetails("360", MAPI_E_INVALID_ENTRYID);
    }
    std::shared_ptr<IMsgStore> store = folder->Store()->GetMsgStore();
    std::uint32_t objectType = 0;
    std::shared_ptr<IUnknown> object;
    const HRESULT hr = store->OpenEntry(messageEntryId->EntryIdBytes(), Iid::IMessage,
                                        MAPI_BEST_ACCESS, &objectType, object);
    CheckResult(store, "360", hr);
    std::shared_ptr<IMessage> message = As<IMessage>(object);
    if (!message) {
        CheckResultNoDetails("360", MAPI_E_INVALID_ENTRYID);
    }
    mapiMessage = std::move(message);
    return mapiMessage;
}

// ---------------------------------------------------------------------------
// Properties and fields

std::string EmailMessage::ReadStringProperty(PropTag tag, const std::string& label) {
    const PropTagArray tags = {tag};
    std::shared_ptr<IMessage> message = OpenMessage();
    std::vector<PropValue> values;
    CheckResult(ErrorSource(), label + " 170.2", message->GetProps(&tags, 0, values));
    if (values.empty()) {
        return "Error";
    }
    const std::string* text = TextColumn(values, 0, tag);
    return text != nullptr ? *text : std::string();
}

std::string EmailMessage::FieldValue(const std::string& name) {
    try {
        return FieldValueOrThrow(name);
    } catch (...) {
        return "Error";
    }
}

std::string EmailMessage::FieldValueOrThrow(const std::string& name) {
    const std::string upper = UpperAscii(name);
    if (upper == "SUBJECT") {
        return subject;
    }
    if (upper == "NOW") {
        return TodayYyyymmdd();
    }
    if (upper == "FROM") {
        return senderAddress;
    }
    if (upper == "SENT") {
        const DateTimeParts parts = DecodeDateTime(deliveryTime);
        std::string text = FormatShortDate(deliveryTime);
        if (parts.hour != 0 || parts.minute != 0 || parts.second != 0 || parts.millisecond != 0) {
            text += " " + FormatLongTime(deliveryTime);
        }
        return text;
    }
    if (upper == "TO") {
        return displayTo;
    }
    if (upper == "CC") {
        if (cachedCc.empty()) {
            cachedCc = ReadStringProperty(PR_DISPLAY_CC, "CC");
        }
        return cachedCc;
    }
    if (upper == "BCC") {
        if (cachedBcc.empty()) {
            cachedBcc = ReadStringProperty(PR_DISPLAY_BCC, "BCC");
        }
        return cachedBcc;
    }
    return "%" + name;
}

std::string EmailMessage::SubjectWithoutPrefix() const {
    std::string text = subject;
    const std::string upper = UpperAscii(text);
    if (StartsWith(upper, "RE:") || StartsWith(upper, "FW:")) {
        text.erase(0, 3);
    }
    if (StartsWith(upper, "FWD:")) {
        text.erase(0, 4);
    }
    std::size_t blanks = 0;
    while (blanks < text.size() && static_cast<unsigned char>(text[blanks]) <= ' ') {
        ++blanks;
    }
    return text.substr(blanks);
}

// ---------------------------------------------------------------------------
// Body

bool EmailMessage::IsRtfInSync() {
    std::shared_ptr<IMessage> message = OpenMessage();
    const PropTagArray tags = {PR_RTF_IN_SYNC};
    std::vector<PropValue> values;
    CheckResult(ErrorSource(), "185", message->GetProps(&tags, 0, values));
    const PropValue* value = Column(values, 0, PR_RTF_IN_SYNC);
    return value != nullptr && value->Bool() != nullptr && *value->Bool();
}

std::string EmailMessage::ReadTextStream(PropTag tag, const std::string& label) {
    std::shared_ptr<IMessage> message = OpenMessage();
    std::shared_ptr<IUnknown> object;
    const HRESULT hr = message->OpenProperty(tag, Iid::IStream, 0, MAPI_DEFERRED_ERRORS, object);
    if (hr == MAPI_E_NOT_FOUND) {
        return std::string();
    }
    std::shared_ptr<IMsgStore> details = ErrorSource();
    CheckResult(details, label + "190.2", hr);
    std::shared_ptr<IStream> stream = As<IStream>(object);
    if (!stream) {
        CheckResult(details, label + "190.2", MAPI_E_INTERFACE_NOT_SUPPORTED);
    }
    if ((storeSupportMask & STORE_RTF_OK) == 0 && !IsRtfInSync()) {
        bool updated = false;
        RTFSync(*message, RTF_SYNC_BODY_CHANGED, &updated);
    }
    return ReadWholeStream(*stream, label + "190", label + "200", details.get());
}

std::string EmailMessage::ReadBody() {
    return ReadTextStream(PR_BODY, "PlainText");
}

bool EmailMessage::CanReopen() const {
    return !embedded_ && messageEntryId != nullptr;
}

std::shared_ptr<IMessage> EmailMessage::Reopen(const std::string& label, HRESULT conflict) {
    mapiMessage.reset();
    try {
        return OpenMessage();
    } catch (const MailError&) {
        // The email is gone: the step that met the conflict fails with it.
        CheckResult(ErrorSource(), label, conflict);
        throw;
    }
}

HRESULT EmailMessage::PutStream(IMessage& message, const std::string& bytes, PropTag tag,
                                const std::string& label, bool mayReopen) {
    std::shared_ptr<IMsgStore> details = ErrorSource();
    std::shared_ptr<IUnknown> object;
    const HRESULT opened = message.OpenProperty(tag, Iid::IStream, 0, kWriteStreamFlags, object);
    if (mayReopen && IsConflict(opened)) {
        return opened;
    }
    CheckResult(details, label + "210", opened);
    std::shared_ptr<IStream> stream = As<IStream>(object);
    if (!stream) {
        CheckResult(details, label + "210", MAPI_E_INTERFACE_NOT_SUPPORTED);
    }
    std::uint32_t written = 0;
    const auto size = static_cast<std::uint32_t>(bytes.size());
    HRESULT hr = stream->Write(bytes.data(), size, &written);
    if (CheckStreamResult(label + "220", hr)) {
        CheckResult(details, label + "220", hr);
    }
    if (written != size || bytes.size() != size) {
        CheckResult(details, label + "220", STG_E_WRITEFAULT);
    }
    hr = stream->Commit(0);
    if (CheckStreamResult(label + "220.1", hr)) {
        CheckResult(details, label + "220.1", hr);
    }
    if ((storeSupportMask & STORE_RTF_OK) == 0) {
        bool updated = false;
        RTFSync(message, RTF_SYNC_BODY_CHANGED, &updated);
    }
    return S_OK;
}

std::string EmailMessage::NewStream(const FieldChange& change, PropTag tag,
                                    const std::string& label) {
    return change.prepend ? change.text + ReadTextStream(tag, label) : change.text;
}

void EmailMessage::WriteTextStream(const FieldChange& change, PropTag tag,
                                   const std::string& label) {
    try {
        std::shared_ptr<IMessage> message = OpenMessage();
        if (const HRESULT conflict =
                PutStream(*message, NewStream(change, tag, label), tag, label, CanReopen());
            conflict != S_OK) {
            // The email was replaced since it was opened: write to the current
            // copy, made from that copy.
            message = Reopen(label + "210", conflict);
            PutStream(*message, NewStream(change, tag, label), tag, label, false);
        }
        pendingStream_ = PendingStream{tag, change};
    } catch (...) {
        DropUnsavedChanges();
        throw;
    }
    SaveChanges(label + "230");
}

void EmailMessage::WriteBody(const std::string& bytes) {
    WriteTextStream(FieldChange{bytes, false}, PR_BODY, "PlainText");
}

void EmailMessage::PrependToBody(const std::string& note) {
    WriteTextStream(FieldChange{note, true}, PR_BODY, "PlainText");
}

// ---------------------------------------------------------------------------
// Changes

void EmailMessage::SetSubject(const std::string& text) {
    ChangeSubject(FieldChange{text, false});
}

void EmailMessage::TagSubject(const std::string& tag) {
    ChangeSubject(FieldChange{tag, true});
}

std::string EmailMessage::NewSubject(IMessage& message, const FieldChange& change,
                                     const std::string& label) {
    if (!change.prepend) {
        return change.text;
    }
    const PropTagArray tags = {PR_SUBJECT};
    std::vector<PropValue> values;
    CheckResult(ErrorSource(), label, message.GetProps(&tags, 0, values));
    const std::string* current = TextColumn(values, 0, PR_SUBJECT);
    return change.text + (current != nullptr ? *current : std::string());
}

HRESULT EmailMessage::PutSubject(IMessage& message, const FieldChange& change,
                                 std::vector<PropProblem>& problems) {
    problems.clear();
    return message.SetProps({PropValue{PR_SUBJECT, NewSubject(message, change, "230.5")}},
                            &problems);
}

void EmailMessage::ChangeSubject(const FieldChange& change) {
    try {
        std::shared_ptr<IMessage> message = OpenMessage();
        std::shared_ptr<IMsgStore> details = ErrorSource();
        std::vector<PropProblem> problems;
        HRESULT hr = PutSubject(*message, change, problems);
        if (IsConflict(hr) && CanReopen()) {
            // The email was replaced since it was opened: change the current copy.
            message = Reopen("230.5", hr);
            hr = PutSubject(*message, change, problems);
        }
        CheckResult(details, "230.5", hr);
        for (const PropProblem& problem : problems) {
            CheckResult(details, "230.5", problem.code);
        }
        pendingSubject_ = change;
    } catch (...) {
        DropUnsavedChanges();
        throw;
    }
    SaveChanges("231");
}

void EmailMessage::DropUnsavedChanges() {
    pendingSubject_.reset();
    pendingStream_.reset();
    if (!embedded_ && messageEntryId) {
        // The next use opens the stored email again, without the failed change.
        mapiMessage.reset();
    }
}

void EmailMessage::ApplyPendingChanges(IMessage& message, const std::string& label) {
    std::shared_ptr<IMsgStore> details = ErrorSource();
    // A tag or note is put before the fresh copy's own value: what another
    // program wrote there meanwhile stays.  The body is read before anything
    // of this copy changes.
    std::optional<std::string> stream;
    if (pendingStream_) {
        stream = NewStream(pendingStream_->change, pendingStream_->tag, "PlainText");
    }
    if (pendingSubject_) {
        std::vector<PropProblem> problems;
        CheckResult(
            details, label,
            message.SetProps({PropValue{PR_SUBJECT, NewSubject(message, *pendingSubject_, label)}},
                             &problems));
        for (const PropProblem& problem : problems) {
            CheckResult(details, label, problem.code);
        }
    }
    if (stream) {
        PutStream(message, *stream, pendingStream_->tag, label, false);
    }
}

void EmailMessage::SaveChanges(const std::string& label) {
    try {
        std::shared_ptr<IMessage> message = OpenMessage();
        HRESULT hr = message->SaveChanges(KEEP_OPEN_READWRITE);
        if (IsConflict(hr) && CanReopen()) {
            // Another program changed (or replaced) the email meanwhile: apply our
            // changes to the current copy instead of overwriting theirs.
            message = Reopen(label + "-351", hr);
            ApplyPendingChanges(*message, label + "-352");
            hr = message->SaveChanges(KEEP_OPEN_READWRITE);
        }
        CheckResult(ErrorSource(), label + "-351", hr);
        pendingSubject_.reset();
        pendingStream_.reset();
    } catch (...) {
        DropUnsavedChanges();
        throw;
    }
}

void EmailMessage::MarkRead() {
    std::shared_ptr<IMessage> message = OpenMessage();
    std::shared_ptr<IMsgStore> details = ErrorSource();
    std::optional<PropValue> value;
    CheckResult(details, "240", HrGetOneProp(*message, PR_MESSAGE_FLAGS, value));
    if (value && value->tag == PR_MESSAGE_FLAGS && value->Long() != nullptr &&
        (static_cast<std::uint32_t>(*value->Long()) & MSGFLAG_READ) == 0) {
        CheckResult(details, "250", message->SetReadFlag(SUPPRESS_RECEIPT));
    }
}

// ---------------------------------------------------------------------------
// Attachments and embedded emails

void EmailMessage::ListAttachments(std::vector<std::unique_ptr<Attachment>>& list) {
    std::shared_ptr<IMessage> message = OpenMessage();
    std::shared_ptr<IMsgStore> details = ErrorSource();
    const PropTagArray hasAttach = {PR_HASATTACH};
    std::vector<PropValue> values;
    CheckResult(details, "310", message->GetProps(&hasAttach, 0, values));
    const PropValue* flag = Column(values, 0, PR_HASATTACH);
    if (flag == nullptr || flag->Bool() == nullptr || !*flag->Bool()) {
        return;
    }
    std::shared_ptr<IMAPITable> table;
    CheckResult(details, "320", message->GetAttachmentTable(0, table));
    if (!table) {
        CheckResult(details, "320", MAPI_E_CALL_FAILED);
    }
    const PropTagArray columns = {PR_ATTACH_NUM,           PR_ATTACH_EXTENSION, PR_ATTACH_METHOD,
                                  PR_ATTACH_LONG_FILENAME, PR_ATTACH_FILENAME,  PR_ATTACH_SIZE};
    list.clear();
    RowSet rows;
    CheckResult(details, "340", HrQueryAllRows(*table, &columns, nullptr, 0, rows));
    for (const Row& row : rows) {
        auto attachment = std::make_unique<Attachment>();
        attachment->ownerMessage = this;
        if (const std::int32_t* number = LongColumn(row, 0, PR_ATTACH_NUM)) {
            attachment->attachNumber = *number;
        }
        if (const std::int32_t* method = LongColumn(row, 2, PR_ATTACH_METHOD)) {
            attachment->attachMethod = *method;
            if (*method == static_cast<std::int32_t>(ATTACH_EMBEDDED_MSG)) {
                attachment->fileName =
                    EmbeddedStringProperty(attachment->attachNumber, PR_SUBJECT) + ".txt";
            }
        }
        if (attachment->fileName.empty()) {
            if (const std::string* longName = TextColumn(row, 3, PR_ATTACH_LONG_FILENAME)) {
                attachment->fileName = *longName;
            } else if (const std::string* shortName = TextColumn(row, 4, PR_ATTACH_FILENAME)) {
                attachment->fileName = *shortName;
            } else {
                continue; // nothing to name it by
            }
        }
        if (const std::int32_t* size = LongColumn(row, 5, PR_ATTACH_SIZE)) {
            attachment->attachSize = *size;
        }
        list.push_back(std::move(attachment));
    }
}

std::shared_ptr<IMessage> EmailMessage::OpenEmbeddedMessage(std::int32_t attachNumber) {
    std::shared_ptr<IMessage> message = OpenMessage();
    std::shared_ptr<IMsgStore> details = ErrorSource();
    std::shared_ptr<IAttach> attach;
    CheckResult(details, "370",
                message->OpenAttach(static_cast<std::uint32_t>(attachNumber), Iid::IAttachment,
                                    kOpenAttachFlags, attach));
    if (!attach) {
        CheckResult(details, "370", MAPI_E_NOT_FOUND);
    }
    std::shared_ptr<IUnknown> object;
    CheckResult(
        details, "380",
        attach->OpenProperty(PR_ATTACH_DATA_OBJ, Iid::IMessage, 0, MAPI_DEFERRED_ERRORS, object));
    std::shared_ptr<IMessage> embedded = As<IMessage>(object);
    if (!embedded) {
        CheckResult(details, "380", MAPI_E_INTERFACE_NOT_SUPPORTED);
    }
    return embedded;
}

std::string EmailMessage::EmbeddedStringProperty(std::int32_t attachNumber, PropTag tag) {
    std::shared_ptr<IMessage> embedded = OpenEmbeddedMessage(attachNumber);
    const PropTagArray tags = {tag};
    std::vector<PropValue> values;
    CheckResult(ErrorSource(), "400", embedded->GetProps(&tags, 0, values));
    const std::string* text = TextColumn(values, 0, tag);
    return text != nullptr ? *text : std::string();
}

const EmailMessage& EmailMessage::Outermost() const {
    const EmailMessage* email = this;
    while (email->outer_ != nullptr) {
        email = email->outer_;
    }
    return *email;
}

std::unique_ptr<EmailMessage> EmailMessage::OpenEmbedded(std::int32_t attachNumber) {
    auto email = std::make_unique<EmailMessage>();
    email->folder = folder;
    email->embedded_ = true;
    email->outer_ = this;
    email->mapiMessage = OpenEmbeddedMessage(attachNumber);
    std::vector<PropValue> values;
    CheckResult(ErrorSource(), "410", email->mapiMessage->GetProps(&MessageColumns(), 0, values));
    if (!values.empty()) {
        email->LoadFields(values);
    }
    return email;
}

// ---------------------------------------------------------------------------

std::string Attachment::FieldValue(const std::string& name) const {
    const std::string upper = UpperAscii(name);
    if (upper == "FILENAME" || upper == "S") {
        return fileName;
    }
    if (ownerMessage != nullptr) {
        return ownerMessage->FieldValue(name);
    }
    return "%" + name;
}

std::string Attachment::EmbeddedText() {
    std::string content = ownerMessage->EmbeddedStringProperty(attachNumber, PR_BODY);
    if (content.empty()) {
        content = ownerMessage->EmbeddedStringProperty(attachNumber, PR_BODY_HTML);
    }
    return content;
}

std::shared_ptr<IStream> Attachment::OpenContentStream(IMAPIProp* details) {
    std::shared_ptr<IMessage> message = ownerMessage->OpenMessage();
    std::shared_ptr<IAttach> attach;
    CheckResult(details, "500",
                message->OpenAttach(static_cast<std::uint32_t>(attachNumber), Iid::IAttachment,
                                    kOpenAttachFlags, attach));
    if (!attach) {
        CheckResult(details, "500", MAPI_E_NOT_FOUND);
    }
    std::shared_ptr<IUnknown> object;
    std::string label;
    if (attachMethod == static_cast<std::int32_t>(ATTACH_OLE)) {
        label = "510";
        HRESULT hr = attach->OpenProperty(PR_ATTACH_DATA_OBJ, Iid::IStreamDocfile, 0,
                                          MAPI_DEFERRED_ERRORS, object);
        if (Failed(hr)) {
            hr = attach->OpenProperty(PR_ATTACH_DATA_BIN, Iid::IStreamDocfile, 0,
                                      MAPI_DEFERRED_ERRORS, object);
        }
        if (Failed(hr)) {
            hr = attach->OpenProperty(PR_ATTACH_DATA_OBJ, Iid::IStorage, 0, MAPI_DEFERRED_ERRORS,
                                      object);
        }
        CheckResult(details, label, hr);
    } else {
        label = "520";
        CheckResult(details, label,
                    attach->OpenProperty(PR_ATTACH_DATA_BIN, Iid::IStream, 0, MAPI_DEFERRED_ERRORS,
                                         object));
    }
    // Only a stream is read as bytes; a storage is never taken for one.
    std::shared_ptr<IStream> stream = As<IStream>(object);
    if (!stream) {
        CheckResult(details, label, MAPI_E_NO_SUPPORT);
    }
    return stream;
}

// The object failures are asked about: the one given, else the owner's store
// (kept alive in `holder`).
IMAPIProp* Attachment::Details(IMAPIProp* detailsObject, std::shared_ptr<IMsgStore>& holder) {
    if (ownerMessage == nullptr) {
        CheckResultNoDetails("500", MAPI_E_INVALID_PARAMETER);
    }
    if (detailsObject != nullptr) {
        return detailsObject;
    }
    holder = ownerMessage->ErrorSource();
    return holder.get();
}

std::string Attachment::ReadContent(IMAPIProp* detailsObject, std::size_t maxBytes) {
    std::shared_ptr<IMsgStore> holder;
    IMAPIProp* details = Details(detailsObject, holder);
    if (attachMethod == static_cast<std::int32_t>(ATTACH_EMBEDDED_MSG)) {
        return EmbeddedText();
    }
    std::shared_ptr<IStream> stream = OpenContentStream(details);
    return ReadWholeStream(*stream, "530", "540", details, maxBytes);
}

void Attachment::SaveContentToFile(IMAPIProp* detailsObject, const std::string& path,
                                   FollowLinks links, Durability durability) {
    std::shared_ptr<IMsgStore> holder;
    IMAPIProp* details = Details(detailsObject, holder);
    if (attachMethod == static_cast<std::int32_t>(ATTACH_EMBEDDED_MSG)) {
        WriteFileAtomic(path, EmbeddedText(), 0666, links, durability);
        return;
    }
    std::shared_ptr<IStream> stream = OpenContentStream(details);
    // The file is written as the content arrives, a few hundred kilobytes at
    // a time; it takes its name only when the whole content was read.
    constexpr std::size_t kWriteBatch = 256u << 10;
    AtomicFileWriter file(path, 0666, links, durability);
    std::string pending;
    pending.reserve(kWriteBatch);
    CopyStream(*stream, "530", "540", details, [&](std::string_view piece, const std::string&) {
        pending.append(piece);
        if (pending.size() >= kWriteBatch) {
            file.Write(pending);
            pending.clear();
        }
    });
    file.Write(pending);
    file.Commit();
}

} // namespace qf
