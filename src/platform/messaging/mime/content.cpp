#include "platform/messaging/mime/content.h"

#include "platform/messaging/mime/decode.h"
#include "platform/messaging/mime/gmime_support.h"
#include "platform/messaging/mime/html_text.h"
#include "platform/messaging/mime/streams.h"

#include "common/legacy_text.h"
#include "common/text.h"

namespace qf::mapi::mime {

namespace {

std::string TextOfPart(GMimeObject* object) {
    const std::string bytes = DecodedBytes(object);
    return ToUtf8(bytes, g_mime_object_get_content_type_parameter(object, "charset"));
}

std::string ExtensionForType(const std::string& type) {
    static const std::pair<const char*, const char*> table[] = {
        {"application/pdf", ".pdf"},
        {"application/msword", ".doc"},
        {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", ".docx"},
        {"application/vnd.oasis.opendocument.text", ".odt"},
        {"application/rtf", ".rtf"},
        {"text/rtf", ".rtf"},
        {"text/html", ".htm"},
        {"text/calendar", ".ics"},
        {"image/jpeg", ".jpg"},
        {"image/png", ".png"},
        {"image/gif", ".gif"},
        {"application/zip", ".zip"},
        {"message/rfc822", ".eml"},
    };
    for (const auto& [t, e] : table) {
        if (type == t) {
            return e;
        }
    }
    return type.rfind("text/", 0) == 0 || type.rfind("message/", 0) == 0 ? ".txt" : ".bin";
}

// The last path component, without control characters.
std::string SafeFileName(std::string_view name) {
    const std::size_t cut = name.find_last_of("/\\");
    if (cut != std::string_view::npos) {
        name.remove_prefix(cut + 1);
    }
    std::string out;
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
            out += c;
        }
    }
    return Trimmed(out);
}

std::vector<RawHeader> HeadersOf(GMimeObject* object) {
    std::vector<RawHeader> headers;
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    const int n = g_mime_header_list_get_count(list);
    for (int i = 0; i < n; ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
        const char* name = g_mime_header_get_name(h);
        const char* value = g_mime_header_get_raw_value(h);
        headers.push_back(RawHeader{name ? name : "", value ? value : "", 0, 0});
    }
    return headers;
}

// Sets a text part's text.  Base64 keeps carriage returns as they are;
// quoted-printable would lose them.
void SetPartText(GMimeTextPart* part, const std::string& body) {
    g_mime_text_part_set_text(part, body.c_str());
    g_mime_part_set_content_encoding(GMIME_PART(part),
                                     body.find('\r') != std::string::npos
                                         ? GMIME_CONTENT_ENCODING_BASE64
                                         : g_mime_part_get_best_content_encoding(
                                               GMIME_PART(part), GMIME_ENCODING_CONSTRAINT_7BIT));
}

// A stream's bytes to its end; what was read before a failure.
std::string ReadAll(IStream& stream) {
    std::string out;
    char buffer[65536];
    std::uint32_t n = 0;
    while (Succeeded(stream.Read(buffer, sizeof buffer, &n)) && n > 0) {
        out.append(buffer, n);
    }
    return out;
}

} // namespace

// The parsed message and the bytes it was parsed from.  GMime reads the
// bytes where they lie, through a byte array that only points at them (a
// copy would double the memory a large message takes), and refers to them
// for the content of each part: they live as long as the tree.
struct ParsedContent::Tree {
    std::string bytes;
    GMimeMessage* root = nullptr;
    GByteArray* view = nullptr;

    void ParseFrom(std::size_t offset) {
        view = g_byte_array_new();
        view->data = reinterpret_cast<guint8*>(bytes.data() + offset);
        view->len = static_cast<guint>(bytes.size() - offset);
        GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(view);
        g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        g_mime_parser_set_persist_stream(parser, TRUE);
        root = g_mime_parser_construct_message(parser, ParserOptions());
        g_object_unref(parser);
        g_object_unref(stream);
    }
    ~Tree() {
        if (root != nullptr) {
            g_object_unref(root);
        }
        if (view != nullptr) {
            view->data = nullptr; // the bytes are the string's
            view->len = 0;
            g_byte_array_free(view, TRUE);
        }
    }
};

ParsedContent::~ParsedContent() = default;

std::shared_ptr<ParsedContent> ParsedContent::Parse(std::string bytes) {
    ParserOptions();
    std::shared_ptr<ParsedContent> pc(new ParsedContent());
    pc->tree_ = std::make_shared<Tree>();
    pc->tree_->bytes = std::move(bytes);
    const std::string_view all = pc->tree_->bytes;
    const HeaderBlock block = SplitHeaders(all);
    pc->crlf_ = block.crlf;
    pc->summary_ = Summarize(block.headers);
    if (block.present) {
        pc->tree_->ParseFrom(block.prefixEnd);
    }
    pc->message_ = pc->tree_->root;
    if (pc->message_ == nullptr) {
        pc->prologueBody_ = ToUtf8(all.substr(block.bodyOffset), nullptr);
    } else if (GMimeObject* top = g_mime_message_get_mime_part(pc->message_)) {
        pc->Walk(top, nullptr, -1);
    }
    pc->raw_ = all;
    return pc;
}

std::shared_ptr<ParsedContent> ParsedContent::Parse(std::string bytes,
                                                    std::map<std::size_t, OmittedContent> omitted) {
    std::shared_ptr<ParsedContent> pc = Parse(std::move(bytes));
    if (omitted.empty()) {
        return pc;
    }
    pc->partial_ = true;
    pc->raw_ = {};
    for (std::size_t i = 0; i < pc->attachments_.size(); ++i) {
        auto it = omitted.find(pc->attachments_[i].leaf);
        if (it != omitted.end() && !pc->attachments_[i].embedded) {
            pc->omitted_[i] = std::move(it->second);
        }
    }
    return pc;
}

void ParsedContent::Walk(GMimeObject* object, GMimeObject* parent, int index) {
    if (GMIME_IS_MULTIPART(object)) {
        WalkMultipart(object);
        return;
    }
    const std::string type = LowerTypeOf(object);
    if (GMIME_IS_MESSAGE_PART(object) || GMIME_IS_PART(object)) {
        ++leaves_;
    }
    if (GMIME_IS_MESSAGE_PART(object)) {
        AddMessagePart(object, type);
    } else if (GMIME_IS_PART(object)) {
        AddLeafPart(object, parent, index, type);
    }
    // message/partial and the like carry nothing readable.
}

void ParsedContent::WalkMultipart(GMimeObject* object) {
    GMimeMultipart* mp = GMIME_MULTIPART(object);
    const int n = g_mime_multipart_get_count(mp);
    if (n == 0 && plainPart_ == nullptr && !prologueBody_) {
        const char* prologue = g_mime_multipart_get_prologue(mp);
        if (prologue != nullptr && *prologue != '\0') {
            prologueBody_ = ToUtf8(prologue, nullptr);
        }
    }
    for (int i = 0; i < n; ++i) {
        Walk(g_mime_multipart_get_part(mp, i), object, i);
    }
}

void ParsedContent::AddMessagePart(GMimeObject* object, const std::string& type) {
    AttachmentInfo a;
    a.part = object;
    a.leaf = leaves_ - 1;
    a.embedded = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object)) != nullptr;
    a.mimeType = type;
    const char* fn = g_mime_object_get_content_disposition_parameter(object, "filename");
    if (fn == nullptr) {
        fn = g_mime_object_get_content_type_parameter(object, "name");
    }
    a.longName = fn ? SafeFileName(fn) : std::string();
    if (!a.embedded && a.longName.empty()) {
        a.longName = "attachment" + std::to_string(attachments_.size() + 1) + ".eml";
    }
    attachments_.push_back(std::move(a));
}

void ParsedContent::AddLeafPart(GMimeObject* object, GMimeObject* parent, int index,
                                const std::string& type) {
    const char* disp = g_mime_object_get_disposition(object);
    const bool attachDisp = disp != nullptr && EqualsNoCase(disp, GMIME_DISPOSITION_ATTACHMENT);
    const char* fn = g_mime_part_get_filename(GMIME_PART(object));
    const bool named = fn != nullptr && *fn != '\0';
    if (!attachDisp && !named && type == "text/plain") {
        if (plainPart_ == nullptr) {
            plainPart_ = object;
        } else {
            extraPlainParts_.push_back(object);
        }
        return;
    }
    if (!attachDisp && !named && type == "text/html") {
        if (htmlPart_ == nullptr) {
            htmlPart_ = object;
            htmlParent_ = parent;
            htmlIndex_ = index;
        }
        return;
    }
    AttachmentInfo a;
    a.part = object;
    a.leaf = leaves_ - 1;
    a.mimeType = type;
    a.longName = named ? SafeFileName(fn) : std::string();
    if (a.longName.empty()) {
        a.longName =
            "attachment" + std::to_string(attachments_.size() + 1) + ExtensionForType(type);
    }
    const char* cid = g_mime_part_get_content_id(GMIME_PART(object));
    a.contentId = cid ? cid : "";
    attachments_.push_back(std::move(a));
}

const std::string& ParsedContent::PlainBody() {
    if (!plain_) {
        std::string body;
        if (plainPart_ != nullptr) {
            body = TextOfPart(plainPart_);
            for (GMimeObject* extra : extraPlainParts_) {
                body += "\n";
                body += TextOfPart(extra);
            }
        } else if (prologueBody_) {
            body = *prologueBody_;
        } else if (htmlPart_ != nullptr) {
            body = HtmlToText(HtmlBody());
        }
        plain_ = std::move(body);
    }
    return *plain_;
}

const std::string& ParsedContent::HtmlBody() {
    if (!html_) {
        html_ = htmlPart_ != nullptr ? TextOfPart(htmlPart_) : std::string();
    }
    return *html_;
}

std::string ParsedContent::AttachmentData(std::size_t index) {
    if (index >= attachments_.size()) {
        return {};
    }
    if (auto it = omitted_.find(index); it != omitted_.end()) {
        return ReadAll(*it->second.open());
    }
    const AttachmentInfo& a = attachments_[index];
    if (GMIME_IS_MESSAGE_PART(a.part)) {
        GMimeMessage* m = g_mime_message_part_get_message(GMIME_MESSAGE_PART(a.part));
        return m ? SerializeObject(GMIME_OBJECT(m), crlf_) : std::string();
    }
    return DecodedBytes(a.part);
}

namespace {

// A part's content decoded as it is read, the way GMime writes it out whole
// (g_mime_data_wrapper_write_to_stream): only a buffer's worth at a time.
// It reads its own view of the part, so that two readers never disturb each
// other, and keeps the parsed tree alive.
class PartContentStream : public IStream {
public:
    PartContentStream(std::shared_ptr<void> tree, GMimeDataWrapper* content)
        : tree_(std::move(tree)) {
        GMimeStream* source = g_mime_data_wrapper_get_stream(content);
        GMimeStream* view = g_mime_stream_substream(source, source->bound_start, source->bound_end);
        filtered_ = g_mime_stream_filter_new(view);
        g_object_unref(view);
        const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
        if (encoding != GMIME_CONTENT_ENCODING_DEFAULT) {
            GMimeFilter* decode = g_mime_filter_basic_new(encoding, FALSE);
            g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered_), decode);
            g_object_unref(decode);
        }
    }
    ~PartContentStream() override { g_object_unref(filtered_); }
    PartContentStream(const PartContentStream&) = delete;
    PartContentStream& operator=(const PartContentStream&) = delete;

    HRESULT Read(void* buffer, std::uint32_t count, std::uint32_t* read) override {
        std::uint32_t done = 0;
        auto* out = static_cast<char*>(buffer);
        // A filter may give nothing for a piece it keeps back: read until
        // something comes or the content ends.
        while (done < count && !g_mime_stream_eos(filtered_)) {
            const ssize_t n = g_mime_stream_read(filtered_, out + done, count - done);
            if (n < 0) {
                if (read != nullptr) {
                    *read = done;
                }
                return MAPI_E_CALL_FAILED;
            }
            done += static_cast<std::uint32_t>(n);
            if (n > 0) {
                break;
            }
        }
        if (read != nullptr) {
            *read = done;
        }
        return S_OK;
    }
    HRESULT Write(const void*, std::uint32_t, std::uint32_t* written) override {
        if (written != nullptr) {
            *written = 0;
        }
        return STG_E_ACCESSDENIED;
    }
    HRESULT Commit(std::uint32_t) override { return S_OK; }

private:
    std::shared_ptr<void> tree_;
    GMimeStream* filtered_ = nullptr;
};

} // namespace

std::shared_ptr<IStream> ParsedContent::OpenAttachment(std::size_t index) {
    if (auto it = omitted_.find(index); it != omitted_.end()) {
        return it->second.open();
    }
    if (index < attachments_.size() && GMIME_IS_PART(attachments_[index].part)) {
        if (GMimeDataWrapper* content =
                g_mime_part_get_content(GMIME_PART(attachments_[index].part))) {
            return std::make_shared<PartContentStream>(tree_, content);
        }
    }
    return std::make_shared<ReadStream>(AttachmentData(index));
}

// Counted as the content is decoded, a piece at a time: a large attachment is
// never held to learn its size.
std::uint64_t ParsedContent::AttachmentSize(std::size_t index) {
    if (auto it = omitted_.find(index); it != omitted_.end()) {
        return it->second.size;
    }
    if (index >= attachments_.size() || !GMIME_IS_PART(attachments_[index].part)) {
        return AttachmentData(index).size();
    }
    std::shared_ptr<IStream> stream = OpenAttachment(index);
    std::uint64_t size = 0;
    char buffer[65536];
    std::uint32_t n = 0;
    while (Succeeded(stream->Read(buffer, sizeof buffer, &n)) && n > 0) {
        size += n;
    }
    return size;
}

std::shared_ptr<ParsedContent> ParsedContent::Embedded(std::size_t index) {
    if (index >= attachments_.size() || !attachments_[index].embedded) {
        return nullptr;
    }
    GMimeMessage* m = g_mime_message_part_get_message(GMIME_MESSAGE_PART(attachments_[index].part));
    std::shared_ptr<ParsedContent> pc(new ParsedContent());
    pc->tree_ = tree_;
    pc->message_ = m;
    pc->crlf_ = crlf_;
    pc->summary_ = Summarize(HeadersOf(GMIME_OBJECT(m)));
    if (GMimeObject* top = g_mime_message_get_mime_part(m)) {
        pc->Walk(top, nullptr, -1);
    }
    return pc;
}

std::string ParsedContent::RawBytes() {
    if (partial_) {
        return {};
    }
    return message_ != nullptr && raw_.empty() ? SerializeObject(GMIME_OBJECT(message_), crlf_)
                                               : std::string(raw_);
}

std::size_t ParsedContent::Size() {
    if (!size_) {
        size_ = RawBytes().size();
    }
    return *size_;
}

// ---------------------------------------------------------------------------
// A new plain body

std::optional<std::string> ParsedContent::WithNewBody(std::string_view utf8Body) {
    if (partial_) {
        return std::nullopt;
    }
    const std::string body =
        IsValidUtf8(utf8Body) ? std::string(utf8Body) : FromWindows1252(utf8Body);
    if (message_ == nullptr) {
        return HeadersWithTextBody(body);
    }
    PlaceBody(body);
    std::string out(raw_.substr(0, SplitHeaders(raw_).prefixEnd));
    out += SerializeObject(GMIME_OBJECT(message_), crlf_);
    // The tree is changed now: read it again before anything else uses it.
    plain_.reset();
    html_.reset();
    return out;
}

// A file without a MIME structure: its headers, then the body as UTF-8 text.
std::string ParsedContent::HeadersWithTextBody(const std::string& body) const {
    const char* nl = crlf_ ? "\r\n" : "\n";
    std::string out;
    if (!raw_.empty()) {
        out.append(raw_, 0, SplitHeaders(raw_).headersEnd);
    }
    out += std::string("MIME-Version: 1.0") + nl + "Content-Type: text/plain; charset=utf-8" + nl +
           "Content-Transfer-Encoding: 8bit" + nl + nl;
    out += body;
    return out;
}

// Puts the body where a reader finds it: in place of the plain text, beside the
// HTML text, or as the first part of the message.
void ParsedContent::PlaceBody(const std::string& body) {
    if (plainPart_ != nullptr && GMIME_IS_TEXT_PART(plainPart_)) {
        ReplacePlainParts(body);
        return;
    }
    GMimeTextPart* text = g_mime_text_part_new_with_subtype("plain");
    SetPartText(text, body);
    GMimeObject* top = g_mime_message_get_mime_part(message_);
    if (htmlPart_ != nullptr && !prologueBody_) {
        AddBesideHtml(text);
    } else if (top != nullptr && GMIME_IS_MULTIPART(top) && !prologueBody_ &&
               g_mime_multipart_get_count(GMIME_MULTIPART(top)) > 0) {
        g_mime_multipart_insert(GMIME_MULTIPART(top), 0, GMIME_OBJECT(text));
    } else {
        WrapInMixed(text, top);
    }
    g_object_unref(text);
}

void ParsedContent::ReplacePlainParts(const std::string& body) {
    SetPartText(GMIME_TEXT_PART(plainPart_), body);
    for (GMimeObject* extra : extraPlainParts_) {
        // The extra inline texts were shown as part of the body: they are in it now.
        g_mime_text_part_set_text(GMIME_TEXT_PART(extra), "");
    }
}

// The HTML part becomes a multipart/alternative of the new text and the HTML.
void ParsedContent::AddBesideHtml(GMimeTextPart* text) {
    GMimeMultipart* alt = g_mime_multipart_new_with_subtype("alternative");
    g_mime_multipart_add(alt, GMIME_OBJECT(text));
    g_object_ref(htmlPart_);
    if (htmlParent_ != nullptr && GMIME_IS_MULTIPART(htmlParent_)) {
        GMimeObject* old =
            g_mime_multipart_replace(GMIME_MULTIPART(htmlParent_), htmlIndex_, GMIME_OBJECT(alt));
        g_mime_multipart_add(alt, htmlPart_);
        if (old != nullptr) {
            g_object_unref(old);
        }
    } else {
        g_mime_multipart_add(alt, htmlPart_);
        g_mime_message_set_mime_part(message_, GMIME_OBJECT(alt));
    }
    g_object_unref(htmlPart_);
    g_object_unref(alt);
}

// A multipart/mixed of the new text and what the message held.
void ParsedContent::WrapInMixed(GMimeTextPart* text, GMimeObject* top) {
    GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
    g_mime_multipart_add(mixed, GMIME_OBJECT(text));
    if (top != nullptr) {
        g_mime_multipart_add(mixed, top);
    }
    g_mime_message_set_mime_part(message_, GMIME_OBJECT(mixed));
    g_object_unref(mixed);
}

} // namespace qf::mapi::mime
