#include "platform/messaging/mime/message_props.h"

#include "platform/messaging/props.h"

#include <algorithm>
#include <climits>

namespace qf::mapi::mime {

namespace {

const PropTagArray& AllMessageTags() {
    static const PropTagArray tags = {PR_ENTRYID,
                                      PR_RECORD_KEY,
                                      PR_INSTANCE_KEY,
                                      PR_PARENT_ENTRYID,
                                      PR_STORE_ENTRYID,
                                      PR_OBJECT_TYPE,
                                      PR_MESSAGE_CLASS,
                                      PR_SUBJECT,
                                      PR_SENDER_EMAIL_ADDRESS,
                                      PR_SENDER_NAME,
                                      PR_DISPLAY_TO,
                                      PR_DISPLAY_CC,
                                      PR_DISPLAY_BCC,
                                      PR_INTERNET_MESSAGE_ID,
                                      PR_CLIENT_SUBMIT_TIME,
                                      PR_MESSAGE_DELIVERY_TIME,
                                      PR_MESSAGE_SIZE,
                                      PR_MESSAGE_FLAGS,
                                      PR_HASATTACH,
                                      PR_STORE_SUPPORT_MASK,
                                      PR_ACCESS,
                                      PR_MSG_STATUS,
                                      PR_RTF_IN_SYNC,
                                      PR_BODY,
                                      PR_BODY_HTML};
    return tags;
}

PropValue TextProp(PropTag tag, const std::string& v) {
    const bool text = PROP_TYPE(tag) == PT_STRING8 || PROP_TYPE(tag) == PT_UNICODE;
    return text ? MakeText(tag, v) : NotFound(tag);
}

PropValue TimeProp(PropTag tag, const std::optional<std::int64_t>& seconds) {
    return seconds ? MakeTime(tag, FileTimeFromUnix(*seconds)) : NotFound(tag);
}

// Properties of the message as an object of its store; nothing for the others.
std::optional<PropValue> PlaceProp(PropTag tag, const MessageFacts& f) {
    switch (PROP_ID(tag)) {
    case PROP_ID(PR_ENTRYID):
    case PROP_ID(PR_RECORD_KEY):
    case PROP_ID(PR_INSTANCE_KEY):
        if (f.unique.empty() || PROP_TYPE(tag) != PT_BINARY) {
            return NotFound(tag);
        }
        return MakeBinary(tag, MakeMessageEntryId(f.store, f.folder, f.unique));
    case PROP_ID(PR_PARENT_ENTRYID):
        return f.unique.empty() ? NotFound(tag)
                                : MakeBinary(tag, MakeFolderEntryId(f.store, f.folder));
    case PROP_ID(PR_STORE_ENTRYID):
        return MakeBinary(tag, MakeStoreEntryId(f.store));
    case PROP_ID(PR_OBJECT_TYPE):
        return MakeLong(tag, MAPI_MESSAGE);
    case PROP_ID(PR_MESSAGE_CLASS):
        return TextProp(tag, "IPM.Note");
    case PROP_ID(PR_STORE_SUPPORT_MASK):
        return MakeLong(tag, static_cast<std::int32_t>(f.supportMask));
    case PROP_ID(PR_ACCESS):
        return MakeLong(tag, f.unique.empty() ? 2 : 7);
    case PROP_ID(PR_MSG_STATUS):
        return MakeLong(tag, 0);
    case PROP_ID(PR_RTF_IN_SYNC):
        return MakeBool(tag, true);
    case PROP_ID(PR_MESSAGE_SIZE):
        return f.known
                   ? MakeLong(tag,
                              static_cast<std::int32_t>(std::min<std::int64_t>(f.size, INT32_MAX)))
                   : NotFound(tag);
    default:
        return std::nullopt;
    }
}

// Properties the header block gives; nothing for the others.
std::optional<PropValue> HeaderProp(PropTag tag, const MessageFacts& f) {
    const Summary& s = *f.summary;
    switch (PROP_ID(tag)) {
    case PROP_ID(PR_SUBJECT):
        return TextProp(tag,
                        f.pendingSubject && *f.pendingSubject ? **f.pendingSubject : s.subject);
    case PROP_ID(PR_SENDER_EMAIL_ADDRESS):
        return TextProp(tag, s.senderAddress);
    case PROP_ID(PR_SENDER_NAME):
        return TextProp(tag, s.senderName);
    case PROP_ID(PR_DISPLAY_TO):
        return TextProp(tag, s.displayTo);
    case PROP_ID(PR_DISPLAY_CC):
        return TextProp(tag, s.displayCc);
    case PROP_ID(PR_DISPLAY_BCC):
        return TextProp(tag, s.displayBcc);
    case PROP_ID(PR_INTERNET_MESSAGE_ID):
        return s.messageId.empty() ? NotFound(tag) : TextProp(tag, s.messageId);
    case PROP_ID(PR_CLIENT_SUBMIT_TIME):
        return TimeProp(tag, s.submitTime);
    case PROP_ID(PR_MESSAGE_DELIVERY_TIME):
        if (s.deliveryTime) {
            return TimeProp(tag, s.deliveryTime);
        }
        return f.fileTime ? MakeTime(tag, *f.fileTime) : NotFound(tag);
    default:
        return std::nullopt;
    }
}

// Properties the structure or the decoded content give.
PropValue ContentProp(PropTag tag, const MessageFacts& f) {
    switch (PROP_ID(tag)) {
    case PROP_ID(PR_HASATTACH):
        return f.hasAttach ? MakeBool(tag, *f.hasAttach) : NotFound(tag);
    case PROP_ID(PR_MESSAGE_FLAGS): {
        std::int32_t flags = 0;
        if (f.unique.empty() || f.flags.find('S') != std::string::npos) {
            flags |= MSGFLAG_READ;
        }
        if (f.hasAttach.value_or(false)) {
            flags |= MSGFLAG_HASATTACH;
        }
        return MakeLong(tag, flags);
    }
    case PROP_ID(PR_BODY):
        if (f.pendingBody && *f.pendingBody) {
            return TextProp(tag, **f.pendingBody);
        }
        return f.content ? TextProp(tag, f.content->PlainBody()) : NotFound(tag);
    case PROP_ID(PR_BODY_HTML): {
        if (f.content == nullptr || f.content->HtmlBody().empty()) {
            return NotFound(tag);
        }
        const std::string& h = f.content->HtmlBody();
        return PROP_TYPE(tag) == PT_BINARY ? MakeBinary(tag, Binary(h.begin(), h.end()))
                                           : TextProp(tag, h);
    }
    default:
        return NotFound(tag);
    }
}

} // namespace

Depth DepthOf(PropTag tag) {
    switch (PROP_ID(tag)) {
    case PROP_ID(PR_HASATTACH):
    case PROP_ID(PR_MESSAGE_FLAGS):
        return Depth::Structure;
    case PROP_ID(PR_BODY):
    case PROP_ID(PR_BODY_HTML):
        return Depth::Full;
    default:
        return Depth::Headers;
    }
}

Depth DepthOf(const PropTagArray& tags) {
    Depth d = Depth::Headers;
    for (PropTag t : tags) {
        d = std::max(d, DepthOf(t));
    }
    return d;
}

PropValue MessageProp(PropTag tag, const MessageFacts& f) {
    if (std::optional<PropValue> v = PlaceProp(tag, f)) {
        return std::move(*v);
    }
    if (!f.known || f.summary == nullptr) {
        return NotFound(tag);
    }
    if (std::optional<PropValue> v = HeaderProp(tag, f)) {
        return std::move(*v);
    }
    return ContentProp(tag, f);
}

std::vector<PropValue> MessageProps(const PropTagArray* tags, const MessageFacts& f) {
    std::vector<PropValue> out;
    for (PropTag t : tags ? *tags : AllMessageTags()) {
        PropValue v = MessageProp(t, f);
        if (tags != nullptr || PROP_TYPE(v.tag) != PT_ERROR) {
            out.push_back(std::move(v));
        }
    }
    return out;
}

HRESULT PropsResult(const std::vector<PropValue>& values) {
    for (const auto& v : values) {
        if (PROP_TYPE(v.tag) == PT_ERROR) {
            return MAPI_W_ERRORS_RETURNED;
        }
    }
    return S_OK;
}

} // namespace qf::mapi::mime
