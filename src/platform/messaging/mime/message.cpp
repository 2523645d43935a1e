#include "platform/messaging/mime/message.h"

#include "platform/messaging/mime/streams.h"

#include "common/text.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace qf::mapi::mime {

namespace {

constexpr const char* kEmbeddedReadOnly = "A message inside another message is read-only";
constexpr const char* kAttachmentReadOnly = "Attachments of stored messages are read-only";

std::string Utf16BytesToUtf8(const std::string& data) {
    std::u16string w(data.size() / 2, u'\0');
    std::memcpy(w.data(), data.data(), w.size() * 2);
    return Utf16ToUtf8(w);
}

std::string Utf8ToUtf16Bytes(const std::string& text) {
    const std::u16string w = Utf8ToUtf16(text);
    return std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2);
}

} // namespace

// ---------------------------------------------------------------------------
// Attachments

MimeAttach::MimeAttach(std::shared_ptr<ParsedContent> content, std::size_t index,
                       MessageOrigin origin)
    : content_(std::move(content)), index_(index), origin_(std::move(origin)) {
    error_.SetComponent(origin_.component);
}

std::vector<PropValue> MimeAttach::RowOf(ParsedContent& content, std::size_t index) {
    const AttachmentInfo& a = content.attachments()[index];
    std::vector<PropValue> row;
    row.push_back(MakeLong(PR_ATTACH_NUM, static_cast<std::int32_t>(index)));
    row.push_back(MakeLong(PR_ATTACH_METHOD, a.embedded ? ATTACH_EMBEDDED_MSG : ATTACH_BY_VALUE));
    std::string display = a.longName;
    if (!a.longName.empty()) {
        row.push_back(MakeText(PR_ATTACH_LONG_FILENAME, a.longName));
        row.push_back(MakeText(PR_ATTACH_FILENAME, a.longName));
        const std::size_t dot = a.longName.rfind('.');
        if (dot != std::string::npos && dot > 0) {
            row.push_back(MakeText(PR_ATTACH_EXTENSION, a.longName.substr(dot)));
        }
    }
    if (a.embedded && display.empty()) {
        if (auto inner = content.Embedded(index)) {
            display = inner->summary().subject;
        }
    }
    row.push_back(MakeText(PR_DISPLAY_NAME, display));
    row.push_back(MakeText(PR_ATTACH_MIME_TAG, a.mimeType));
    if (!a.contentId.empty()) {
        row.push_back(MakeText(PR_ATTACH_CONTENT_ID, a.contentId));
    }
    row.push_back(MakeLong(PR_ATTACH_SIZE, static_cast<std::int32_t>(std::min<std::uint64_t>(
                                               content.AttachmentSize(index), INT32_MAX))));
    row.push_back(MakeLong(PR_RENDERING_POSITION, -1));
    row.push_back(MakeLong(PR_OBJECT_TYPE, MAPI_ATTACH));
    return row;
}

HRESULT MimeAttach::GetProps(const PropTagArray* tags, std::uint32_t,
                             std::vector<PropValue>& values) {
    if (row_.empty()) {
        row_ = RowOf(*content_, index_);
    }
    return SelectProps(row_, tags, values);
}

HRESULT MimeAttach::SetProps(const std::vector<PropValue>&, std::vector<PropProblem>*) {
    return error_.Set(MAPI_E_NO_ACCESS, kAttachmentReadOnly);
}

HRESULT MimeAttach::OpenProperty(PropTag tag, Iid iid, std::uint32_t, std::uint32_t flags,
                                 std::shared_ptr<IUnknown>& object) {
    object.reset();
    if ((flags & MAPI_MODIFY) != 0) {
        return error_.Set(MAPI_E_NO_ACCESS, kAttachmentReadOnly);
    }
    const AttachmentInfo& a = content_->attachments()[index_];
    if (tag == PR_ATTACH_DATA_OBJ && iid == Iid::IMessage) {
        auto inner = content_->Embedded(index_);
        if (!inner) {
            return error_.Set(MAPI_E_NOT_FOUND, "The attachment is not a message");
        }
        object = std::make_shared<EmbeddedMessage>(std::move(inner), origin_);
        return S_OK;
    }
    if (iid == Iid::IStorage) {
        return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "Attachments here have no storage");
    }
    if (iid != Iid::IStream && iid != Iid::IStreamDocfile) {
        return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "Attachment data opens as a stream");
    }
    if (tag == PR_ATTACH_DATA_BIN || (tag == PR_ATTACH_DATA_OBJ && a.embedded)) {
        object = content_->OpenAttachment(index_);
        return S_OK;
    }
    return error_.Set(MAPI_E_NOT_FOUND, "The attachment has no such property");
}

// ---------------------------------------------------------------------------
// Messages

MimeMessage::MimeMessage(MessageOrigin origin) : origin_(std::move(origin)) {
    error_.SetComponent(origin_.component);
}

MessageFacts MimeMessage::OriginFacts() const {
    MessageFacts f;
    f.store = origin_.store;
    f.supportMask = origin_.supportMask;
    return f;
}

HRESULT MimeMessage::GetProps(const PropTagArray* tags, std::uint32_t,
                              std::vector<PropValue>& values) {
    values.clear();
    HRESULT hr = Load();
    if (Failed(hr)) {
        return hr;
    }
    values = MessageProps(tags, Facts());
    return PropsResult(values);
}

HRESULT MimeMessage::GetAttachmentTable(std::uint32_t, std::shared_ptr<IMAPITable>& table) {
    table.reset();
    HRESULT hr = Load();
    if (Failed(hr)) {
        return hr;
    }
    std::vector<std::vector<PropValue>> rows;
    for (std::size_t i = 0; i < content_->attachments().size(); ++i) {
        rows.push_back(MimeAttach::RowOf(*content_, i));
    }
    table = MakeTable(std::make_shared<StaticSource>(
        std::move(rows),
        PropTagArray{PR_ATTACH_NUM, PR_ATTACH_METHOD, PR_ATTACH_LONG_FILENAME, PR_ATTACH_SIZE}));
    return S_OK;
}

HRESULT MimeMessage::OpenAttach(std::uint32_t number, Iid iid, std::uint32_t,
                                std::shared_ptr<IAttach>& attach) {
    attach.reset();
    HRESULT hr = Load();
    if (Failed(hr)) {
        return hr;
    }
    if (iid != Iid::IAttachment && iid != Iid::IMAPIProp && iid != Iid::None) {
        return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED, "An attachment opens as IAttach");
    }
    if (number >= content_->attachments().size()) {
        return error_.Set(MAPI_E_NOT_FOUND,
                          "The message has no attachment " + std::to_string(number));
    }
    attach = std::make_shared<MimeAttach>(content_, number, origin_);
    return S_OK;
}

HRESULT MimeMessage::OpenProperty(PropTag tag, Iid iid, std::uint32_t, std::uint32_t flags,
                                  std::shared_ptr<IUnknown>& object) {
    object.reset();
    if (iid != Iid::IStream) {
        return error_.Set(MAPI_E_INTERFACE_NOT_SUPPORTED,
                          "Message properties open as streams only");
    }
    const std::uint32_t id = PROP_ID(tag);
    if (id != PROP_ID(PR_BODY) && id != PROP_ID(PR_BODY_HTML) && id != PROP_ID(PR_SUBJECT)) {
        return error_.Set(MAPI_E_NOT_FOUND, "The property does not open as a stream");
    }
    HRESULT hr = Load();
    if (Failed(hr)) {
        return hr;
    }
    return (flags & MAPI_MODIFY) != 0 ? OpenTextForWriting(tag, flags, object)
                                      : OpenTextForReading(tag, object);
}

HRESULT MimeMessage::OpenTextForWriting(PropTag tag, std::uint32_t flags,
                                        std::shared_ptr<IUnknown>& object) {
    if (PROP_ID(tag) == PROP_ID(PR_BODY_HTML)) {
        return error_.Set(MAPI_E_NO_ACCESS, "The HTML body cannot be written");
    }
    if (HRESULT hr = CanModify(); Failed(hr)) {
        return hr;
    }
    std::string initial;
    if ((flags & MAPI_CREATE) == 0) {
        initial = TextOf(MessageProp(CHANGE_PROP_TYPE(tag, PT_STRING8), Facts()));
    }
    const bool body = PROP_ID(tag) == PROP_ID(PR_BODY);
    const bool wide = PROP_TYPE(tag) == PT_UNICODE;
    object = std::make_shared<WriteStream>(initial, [this, body, wide](std::string data) {
        (body ? pendingBody_ : pendingSubject_) = wide ? Utf16BytesToUtf8(data) : std::move(data);
    });
    return S_OK;
}

HRESULT MimeMessage::OpenTextForReading(PropTag tag, std::shared_ptr<IUnknown>& object) {
    PropValue v = MessageProp(CHANGE_PROP_TYPE(tag, PT_STRING8), Facts());
    if (PROP_TYPE(v.tag) == PT_ERROR) {
        return error_.Set(MAPI_E_NOT_FOUND, "The message has no such property");
    }
    std::string data = TextOf(v);
    if (PROP_TYPE(tag) == PT_UNICODE) {
        data = Utf8ToUtf16Bytes(data);
    }
    object = std::make_shared<ReadStream>(std::move(data));
    return S_OK;
}

HRESULT MimeMessage::SetProps(const std::vector<PropValue>& values,
                              std::vector<PropProblem>* problems) {
    if (problems != nullptr) {
        problems->clear();
    }
    HRESULT hr = Load();
    if (Failed(hr) || Failed(hr = CanModify())) {
        return hr;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        const PropValue& v = values[i];
        const bool isText = v.Text() != nullptr || v.TextW() != nullptr;
        if (PROP_ID(v.tag) == PROP_ID(PR_SUBJECT) && isText) {
            pendingSubject_ = TextOf(v);
        } else if (PROP_ID(v.tag) == PROP_ID(PR_BODY) && isText) {
            pendingBody_ = TextOf(v);
        } else if (problems != nullptr) {
            problems->push_back(PropProblem{static_cast<std::uint32_t>(i), v.tag, MAPI_E_COMPUTED});
        }
    }
    return S_OK;
}

HRESULT MimeMessage::OpenRawStream(std::shared_ptr<IStream>& stream) {
    stream.reset();
    HRESULT hr = Load();
    if (Failed(hr)) {
        return hr;
    }
    if (content_->IsPartial()) {
        return error_.Set(MAPI_E_NO_SUPPORT, "The message was read in parts");
    }
    stream = std::make_shared<ReadStream>(content_->RawBytes());
    return S_OK;
}

// ---------------------------------------------------------------------------
// Embedded messages

EmbeddedMessage::EmbeddedMessage(std::shared_ptr<ParsedContent> content, MessageOrigin origin)
    : MimeMessage(std::move(origin)) {
    content_ = std::move(content);
}

HRESULT EmbeddedMessage::SaveChanges(std::uint32_t) {
    return error_.Set(MAPI_E_NO_ACCESS, kEmbeddedReadOnly);
}

HRESULT EmbeddedMessage::CanModify() {
    return error_.Set(MAPI_E_NO_ACCESS, kEmbeddedReadOnly);
}

MessageFacts EmbeddedMessage::Facts() {
    MessageFacts f = OriginFacts();
    f.size = static_cast<std::int64_t>(content_->Size());
    f.summary = &content_->summary();
    f.hasAttach = content_->HasAttachments();
    f.content = content_.get();
    return f;
}

} // namespace qf::mapi::mime
