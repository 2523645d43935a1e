#include "platform/messaging/maildir/mime.h"

#include "common/text.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace qf::mapi::maildir {

namespace {

GMimeParserOptions* Options() {
    static GMimeParserOptions* options = [] {
        g_mime_init();
        GMimeParserOptions* o = g_mime_parser_options_new();
        static const char* fallback[] = {"utf-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(o, fallback);
        return o;
    }();
    return options;
}

struct GFree {
    void operator()(void* p) const { g_free(p); }
};
using GString = std::unique_ptr<char, GFree>;

bool IEquals(std::string_view a, std::string_view b) {
    return EqualsNoCase(a, b);
}

bool IStartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string Trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') {
        s.remove_prefix(1);
    }
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') {
        s.remove_suffix(1);
    }
    return std::string(s);
}

// Removes line folding: CR and LF go, the whitespace after them stays.
std::string Unfold(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (char c : raw) {
        if (c != '\r' && c != '\n') {
            out += c;
        }
    }
    return out;
}

bool IsHeaderNameChar(unsigned char c) {
    return c > ' ' && c < 127 && c != ':';
}

// Windows-1252 to UTF-8 for every byte (the five unassigned ones map to C1 controls).
std::string FromWindows1252(std::string_view bytes) {
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::u16string wide;
    wide.reserve(bytes.size());
    for (unsigned char c : bytes) {
        wide += (c >= 0x80 && c < 0xA0) ? high[c - 0x80] : static_cast<char16_t>(c);
    }
    return Utf16ToUtf8(wide);
}

// Merges adjacent base64 encoded-words of one charset into one word, so that a
// word ending in "=" padding does not end the decoding of the header.
std::string MergeBase64Words(std::string_view text) {
    struct Word {
        std::size_t begin, end;
        std::string charset;
        bool base64;
        std::string payload;
    };
    auto parseWord = [&](std::size_t pos, Word& w) -> bool {
        if (text.compare(pos, 2, "=?") != 0) {
            return false;
        }
        const std::size_t q1 = text.find('?', pos + 2);
        if (q1 == std::string_view::npos || q1 + 2 >= text.size() || text[q1 + 2] != '?') {
            return false;
        }
        const std::size_t end = text.find("?=", q1 + 3);
        if (end == std::string_view::npos) {
            return false;
        }
        w.begin = pos;
        w.end = end + 2;
        w.charset = std::string(text.substr(pos + 2, q1 - pos - 2));
        w.base64 = text[q1 + 1] == 'B' || text[q1 + 1] == 'b';
        w.payload = std::string(text.substr(q1 + 3, end - q1 - 3));
        return w.charset.find_first_of(" \t") == std::string::npos;
    };
    if (text.find("=?") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        Word first;
        if (!parseWord(pos, first) || !first.base64) {
            out += text[pos++];
            continue;
        }
        std::string bytes;
        std::size_t next = first.end;
        bool merged = false;
        auto decodeInto = [](const std::string& payload, std::string& into) {
            gsize len = 0;
            guchar* data = g_base64_decode(payload.c_str(), &len);
            into.append(reinterpret_cast<const char*>(data), len);
            g_free(data);
        };
        decodeInto(first.payload, bytes);
        for (;;) {
            std::size_t ws = next;
            while (ws < text.size() && (text[ws] == ' ' || text[ws] == '\t')) {
                ++ws;
            }
            Word w;
            if (!parseWord(ws, w) || !w.base64 || !IEquals(w.charset, first.charset)) {
                break;
            }
            decodeInto(w.payload, bytes);
            next = w.end;
            merged = true;
        }
        if (!merged) {
            out.append(text.substr(first.begin, first.end - first.begin));
        } else {
            GString enc(
                g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
            out += "=?" + first.charset + "?B?" + enc.get() + "?=";
        }
        pos = next;
    }
    return out;
}

// ";" between addresses becomes ","; a ";" that ends a group stays.
std::string FixAddressSeparators(std::string_view s) {
    std::string out(s);
    bool quoted = false, inGroup = false;
    int angle = 0, comment = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const char c = out[i];
        if (quoted) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                quoted = false;
            }
            continue;
        }
        if (comment > 0) {
            if (c == '\\') {
                ++i;
            } else if (c == '(') {
                ++comment;
            } else if (c == ')') {
                --comment;
            }
            continue;
        }
        switch (c) {
        case '"':
            quoted = true;
            break;
        case '(':
            comment = 1;
            break;
        case '<':
            ++angle;
            break;
        case '>':
            angle = std::max(0, angle - 1);
            break;
        case ':':
            if (angle == 0) {
                inGroup = true;
            }
            break;
        case ';':
            if (angle == 0) {
                if (inGroup) {
                    inGroup = false;
                } else {
                    out[i] = ',';
                }
            }
            break;
        default:
            break;
        }
    }
    return out;
}

void CollectAddresses(InternetAddressList* list,
                      std::vector<std::pair<std::string, std::string>>& out) {
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* ia = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(ia)) {
            CollectAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), out);
            continue;
        }
        const char* name = internet_address_get_name(ia);
        const char* addr = INTERNET_ADDRESS_IS_MAILBOX(ia)
                               ? internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia))
                               : nullptr;
        out.emplace_back(name ? Trimmed(name) : std::string(),
                         addr ? Trimmed(addr) : std::string());
    }
}

std::vector<std::pair<std::string, std::string>> ParseAddresses(std::string_view raw) {
    std::vector<std::pair<std::string, std::string>> out;
    const std::string fixed = FixAddressSeparators(MergeBase64Words(Unfold(raw)));
    InternetAddressList* list = internet_address_list_parse(Options(), fixed.c_str());
    if (list != nullptr) {
        CollectAddresses(list, out);
        g_object_unref(list);
    }
    return out;
}

std::string DisplayList(std::string_view raw) {
    std::string out;
    auto addrs = ParseAddresses(raw);
    if (addrs.empty()) {
        return DecodeHeaderText(raw);
    }
    for (const auto& [name, addr] : addrs) {
        const std::string& shown = name.empty() ? addr : name;
        if (shown.empty()) {
            continue;
        }
        if (!out.empty()) {
            out += "; ";
        }
        out += shown;
    }
    return out;
}

std::optional<std::int64_t> ParseDate(std::string_view raw) {
    const std::string s = Trimmed(Unfold(raw));
    if (s.empty()) {
        return std::nullopt;
    }
    GDateTime* dt = g_mime_utils_header_decode_date(s.c_str());
    if (dt == nullptr) {
        return std::nullopt;
    }
    const std::int64_t t = g_date_time_to_unix(dt);
    g_date_time_unref(dt);
    return t;
}

std::string LowerTypeOf(GMimeObject* obj) {
    GMimeContentType* ct = g_mime_object_get_content_type(obj);
    if (ct == nullptr) {
        return "text/plain";
    }
    const char* t = g_mime_content_type_get_media_type(ct);
    const char* s = g_mime_content_type_get_media_subtype(ct);
    return ToLowerAscii(std::string(t ? t : "application") + "/" + (s ? s : "octet-stream"));
}

std::string DecodedBytes(GMimeObject* obj) {
    if (!GMIME_IS_PART(obj)) {
        return {};
    }
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(obj));
    if (content == nullptr) {
        return {};
    }
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, mem);
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    std::string out(reinterpret_cast<const char*>(arr->data), arr->len);
    g_object_unref(mem);
    return out;
}

std::string TextOfPart(GMimeObject* obj) {
    const std::string bytes = DecodedBytes(obj);
    return ToUtf8(bytes, g_mime_object_get_content_type_parameter(obj, "charset"));
}

std::string SerializeObject(GMimeObject* obj, bool crlf) {
    GMimeFormatOptions* fo = g_mime_format_options_clone(nullptr);
    g_mime_format_options_set_newline_format(fo, crlf ? GMIME_NEWLINE_FORMAT_DOS
                                                      : GMIME_NEWLINE_FORMAT_UNIX);
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(obj, fo, mem);
    GByteArray* arr = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    std::string out(reinterpret_cast<const char*>(arr->data), arr->len);
    g_object_unref(mem);
    g_mime_format_options_free(fo);
    return out;
}

// Whether a lower-case header value has the parameter `name` (also in its RFC 2231
// forms name*=, name*0=, name*0*=).
bool HasParameter(const std::string& value, const std::string& name) {
    std::size_t pos = value.find(';');
    while (pos != std::string::npos) {
        std::size_t b = value.find_first_not_of(" \t\r\n", pos + 1);
        if (b == std::string::npos) {
            return false;
        }
        if (value.compare(b, name.size(), name) == 0) {
            const std::size_t after = b + name.size();
            if (after < value.size() &&
                (value[after] == '=' || value[after] == '*' || value[after] == ' ')) {
                return true;
            }
        }
        pos = value.find(';', b);
    }
    return false;
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

} // namespace

// ---------------------------------------------------------------------------

HeaderBlock SplitHeaders(std::string_view bytes) {
    HeaderBlock block;
    std::size_t pos = 0;
    auto lineEnd = [&](std::size_t from) {
        const std::size_t nl = bytes.find('\n', from);
        return nl == std::string_view::npos ? bytes.size() : nl + 1;
    };
    if (bytes.compare(0, 5, "From ") == 0) {
        pos = lineEnd(0);
        block.prefixEnd = pos;
    }
    const std::size_t firstEnd = lineEnd(pos);
    block.crlf = firstEnd >= 2 && bytes[firstEnd - 1] == '\n' && bytes[firstEnd - 2] == '\r';
    while (pos < bytes.size()) {
        const std::size_t end = lineEnd(pos);
        std::string_view line = bytes.substr(pos, end - pos);
        std::string_view content = line;
        while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) {
            content.remove_suffix(1);
        }
        if (content.empty()) {
            block.headersEnd = pos;
            block.bodyOffset = end;
            block.present = !block.headers.empty();
            if (!block.present) {
                block.bodyOffset = 0;
            }
            return block;
        }
        if ((content[0] == ' ' || content[0] == '\t') && !block.headers.empty()) {
            block.headers.back().value.append(line);
            block.headers.back().end = end;
            pos = end;
            continue;
        }
        std::size_t n = 0;
        while (n < content.size() && IsHeaderNameChar(static_cast<unsigned char>(content[n]))) {
            ++n;
        }
        std::size_t colon = n;
        while (colon < content.size() && (content[colon] == ' ' || content[colon] == '\t')) {
            ++colon;
        }
        if (n == 0 || colon >= content.size() || content[colon] != ':') {
            break; // not a header line: the body starts here
        }
        RawHeader h;
        h.name = std::string(content.substr(0, n));
        h.value = std::string(line.substr(colon + 1));
        h.begin = pos;
        h.end = end;
        block.headers.push_back(std::move(h));
        pos = end;
    }
    block.present = !block.headers.empty();
    block.headersEnd = pos;
    block.bodyOffset = block.present ? pos : 0;
    return block;
}

std::string DecodeHeaderText(std::string_view raw) {
    const std::string merged = MergeBase64Words(Trimmed(Unfold(raw)));
    GString decoded(g_mime_utils_header_decode_text(Options(), merged.c_str()));
    std::string out = decoded ? decoded.get() : merged;
    if (!IsValidUtf8(out)) {
        out = FromWindows1252(out);
    }
    // Control characters (a decoded CR or LF, say) have no place in a one-line value.
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            c = ' ';
        }
    }
    return Trimmed(out);
}

std::string ToUtf8(std::string_view bytes, const char* charset) {
    std::string cs = charset ? ToLowerAscii(Trimmed(charset)) : std::string();
    if (cs.empty() || cs == "utf-8" || cs == "utf8" || cs == "us-ascii" || cs == "ascii") {
        return IsValidUtf8(bytes) ? std::string(bytes) : FromWindows1252(bytes);
    }
    if (cs == "iso-8859-1" || cs == "latin1" || cs == "windows-1252" || cs == "cp1252") {
        // Mislabelled UTF-8 is common; real Latin-1 text is almost never valid UTF-8.
        return IsValidUtf8(bytes) ? std::string(bytes) : FromWindows1252(bytes);
    }
    const char* iconvName = g_mime_charset_iconv_name(cs.c_str());
    gsize read = 0, written = 0;
    GError* err = nullptr;
    GString converted(g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", iconvName,
                                &read, &written, &err));
    if (err != nullptr) {
        g_error_free(err);
    }
    if (converted && read == bytes.size()) {
        return std::string(converted.get(), written);
    }
    return IsValidUtf8(bytes) ? std::string(bytes) : FromWindows1252(bytes);
}

Summary Summarize(const std::vector<RawHeader>& headers) {
    Summary s;
    const RawHeader* from = nullptr;
    const RawHeader* sender = nullptr;
    const RawHeader* returnPath = nullptr;
    const RawHeader* received = nullptr;
    const RawHeader* deliveryDate = nullptr;
    std::string contentType, disposition;
    for (const RawHeader& h : headers) {
        const std::string& n = h.name;
        if (IEquals(n, "Subject") && s.subject.empty()) {
            s.subject = DecodeHeaderText(h.value);
        } else if (IEquals(n, "From") && from == nullptr) {
            from = &h;
        } else if (IEquals(n, "Sender") && sender == nullptr) {
            sender = &h;
        } else if (IEquals(n, "Return-Path") && returnPath == nullptr) {
            returnPath = &h;
        } else if (IEquals(n, "To")) {
            const std::string d = DisplayList(h.value);
            if (!d.empty()) {
                s.displayTo += (s.displayTo.empty() ? "" : "; ") + d;
            }
        } else if (IEquals(n, "Cc")) {
            const std::string d = DisplayList(h.value);
            if (!d.empty()) {
                s.displayCc += (s.displayCc.empty() ? "" : "; ") + d;
            }
        } else if (IEquals(n, "Bcc")) {
            const std::string d = DisplayList(h.value);
            if (!d.empty()) {
                s.displayBcc += (s.displayBcc.empty() ? "" : "; ") + d;
            }
        } else if (IEquals(n, "Date") && !s.submitTime) {
            s.submitTime = ParseDate(h.value);
        } else if (IEquals(n, "Received") && received == nullptr) {
            received = &h;
        } else if (IEquals(n, "Delivery-Date") && deliveryDate == nullptr) {
            deliveryDate = &h;
        } else if (IEquals(n, "Message-ID") && s.messageId.empty()) {
            s.messageId = Trimmed(Unfold(h.value));
        } else if (IEquals(n, kReplacesHeader) && s.replaces.empty()) {
            const std::string v = Unfold(h.value);
            std::size_t p = 0;
            while (p < v.size()) {
                const std::size_t b = v.find_first_not_of(" \t", p);
                if (b == std::string::npos) {
                    break;
                }
                const std::size_t e = std::min(v.find_first_of(" \t", b), v.size());
                s.replaces.push_back(v.substr(b, e - b));
                p = e;
            }
        } else if (IEquals(n, "Content-Type") && contentType.empty()) {
            contentType = Trimmed(Unfold(h.value));
        } else if (IEquals(n, "Content-Disposition") && disposition.empty()) {
            disposition = Trimmed(Unfold(h.value));
        }
    }
    for (const RawHeader* h : {from, sender}) {
        if (h == nullptr || !s.senderAddress.empty()) {
            continue;
        }
        auto addrs = ParseAddresses(h->value);
        if (!addrs.empty()) {
            s.senderName = addrs[0].first;
            s.senderAddress = addrs[0].second;
        }
    }
    if (s.senderAddress.empty() && from != nullptr) {
        // An address list that does not parse ("From: Big Bug bb@bug.com"): the word
        // holding the "@".
        const std::string v = Unfold(from->value);
        const std::size_t at = v.find('@');
        if (at != std::string::npos) {
            auto stop = [](char c) {
                return static_cast<unsigned char>(c) <= ' ' || std::strchr("<>()[],;:\"", c);
            };
            std::size_t b = at, e = at + 1;
            while (b > 0 && !stop(v[b - 1])) {
                --b;
            }
            while (e < v.size() && !stop(v[e])) {
                ++e;
            }
            if (b < at && e > at + 1) {
                s.senderAddress = v.substr(b, e - b);
            }
        }
    }
    if (s.senderAddress.empty() && returnPath != nullptr) {
        std::string rp = Trimmed(Unfold(returnPath->value));
        rp.erase(std::remove_if(rp.begin(), rp.end(), [](char c) { return c == '<' || c == '>'; }),
                 rp.end());
        s.senderAddress = Trimmed(rp);
    }
    if (received != nullptr) {
        const std::string v = Unfold(received->value);
        const std::size_t semi = v.rfind(';');
        if (semi != std::string::npos) {
            s.deliveryTime = ParseDate(std::string_view(v).substr(semi + 1));
        }
    }
    if (!s.deliveryTime && deliveryDate != nullptr) {
        s.deliveryTime = ParseDate(deliveryDate->value);
    }
    if (!s.deliveryTime) {
        s.deliveryTime = s.submitTime;
    }
    // Only the media type and whether a file name is given: read without building
    // GMime objects, as this runs for every listed message.
    if (!contentType.empty()) {
        const std::string lower = ToLowerAscii(contentType);
        const std::string type = Trimmed(std::string_view(lower).substr(0, lower.find(';')));
        if (type.find('/') != std::string::npos) {
            s.contentType = type;
        }
        s.hasFileName = HasParameter(lower, "name");
    }
    if (!disposition.empty()) {
        const std::string lower = ToLowerAscii(disposition);
        s.attachmentDisposition = lower.rfind("attachment", 0) == 0;
        s.hasFileName = s.hasFileName || HasParameter(lower, "filename");
    }
    return s;
}

std::optional<bool> HasAttachmentsFromHeaders(const Summary& s) {
    const std::string& t = s.contentType;
    if (t.rfind("multipart/", 0) == 0 || t.rfind("message/", 0) == 0) {
        return std::nullopt;
    }
    const bool body = t.empty() || t == "text/plain" || t == "text/html";
    return s.attachmentDisposition || s.hasFileName || !body;
}

// ---------------------------------------------------------------------------

std::string HtmlToText(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    std::size_t i = 0;
    bool pendingSpace = false;
    int pendingBreak = 0; // line ends wanted before the next text
    auto trimSpaces = [&] {
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
    };
    auto emit = [&](std::string_view s) {
        if (pendingBreak > 0 && !out.empty()) {
            trimSpaces();
            int have = 0;
            for (auto it = out.rbegin(); it != out.rend() && *it == '\n'; ++it) {
                ++have;
            }
            for (; have < pendingBreak; ++have) {
                out += '\n';
            }
        } else if (pendingSpace && !out.empty() && out.back() != '\n') {
            out += ' ';
        }
        pendingSpace = false;
        pendingBreak = 0;
        out.append(s);
    };
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            if (html.compare(i, 4, "<!--") == 0) {
                const std::size_t e = html.find("-->", i + 4);
                i = e == std::string_view::npos ? html.size() : e + 3;
                continue;
            }
            const std::size_t e = html.find('>', i + 1);
            if (e == std::string_view::npos) {
                break;
            }
            std::string_view tag = html.substr(i + 1, e - i - 1);
            const bool closing = !tag.empty() && tag[0] == '/';
            if (closing) {
                tag.remove_prefix(1);
            }
            std::size_t n = 0;
            while (n < tag.size() && std::isalnum(static_cast<unsigned char>(tag[n]))) {
                ++n;
            }
            const std::string name = ToLowerAscii(tag.substr(0, n));
            i = e + 1;
            if (!closing &&
                (name == "script" || name == "style" || name == "head" || name == "title")) {
                const std::string endTag = "</" + name;
                std::size_t p = i;
                for (;;) {
                    p = html.find("</", p);
                    if (p == std::string_view::npos || IStartsWith(html.substr(p), endTag)) {
                        break;
                    }
                    p += 2;
                }
                if (p == std::string_view::npos) {
                    i = html.size();
                } else {
                    const std::size_t close = html.find('>', p);
                    i = close == std::string_view::npos ? html.size() : close + 1;
                }
                continue;
            }
            if (name == "br") {
                if (pendingBreak > 0) {
                    ++pendingBreak;
                } else if (!out.empty()) {
                    trimSpaces();
                    out += '\n';
                    pendingSpace = false;
                }
            } else if (name == "p" || name == "h1" || name == "h2" || name == "h3" ||
                       name == "h4" || name == "h5" || name == "h6" || name == "blockquote") {
                pendingBreak = std::max(pendingBreak, 2);
            } else if (name == "div" || name == "tr" || name == "table" || name == "ul" ||
                       name == "ol" || name == "pre" || name == "li") {
                pendingBreak = std::max(pendingBreak, 1);
                if (name == "li" && !closing) {
                    emit("* ");
                }
            } else if ((name == "td" || name == "th") && !closing) {
                pendingSpace = true;
            }
            continue;
        }
        if (c == '&') {
            const std::size_t semi = html.find(';', i + 1);
            if (semi != std::string_view::npos && semi - i <= 10) {
                const std::string ent(html.substr(i + 1, semi - i - 1));
                std::u16string w;
                static const std::pair<const char*, char16_t> named[] = {
                    {"amp", u'&'},     {"lt", u'<'},      {"gt", u'>'},      {"quot", u'"'},
                    {"apos", u'\''},   {"nbsp", 0xA0},    {"copy", 0xA9},    {"reg", 0xAE},
                    {"euro", 0x20AC},  {"ndash", 0x2013}, {"mdash", 0x2014}, {"hellip", 0x2026},
                    {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D},
                    {"auml", 0xE4},    {"ouml", 0xF6},    {"uuml", 0xFC},    {"Auml", 0xC4},
                    {"Ouml", 0xD6},    {"Uuml", 0xDC},    {"szlig", 0xDF},   {"eacute", 0xE9},
                    {"egrave", 0xE8},  {"agrave", 0xE0},  {"ccedil", 0xE7},  {"bull", 0x2022}};
                if (!ent.empty() && ent[0] == '#') {
                    const bool hex = ent.size() > 1 && (ent[1] == 'x' || ent[1] == 'X');
                    char* endp = nullptr;
                    const unsigned long cp =
                        std::strtoul(ent.c_str() + (hex ? 2 : 1), &endp, hex ? 16 : 10);
                    if (endp != nullptr && *endp == '\0' && cp > 0 && cp < 0x110000 &&
                        !(cp >= 0xD800 && cp < 0xE000)) {
                        if (cp >= 0x10000) {
                            w += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
                            w += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
                        } else {
                            w += static_cast<char16_t>(cp);
                        }
                    }
                } else {
                    for (const auto& [nm, ch] : named) {
                        if (ent == nm) {
                            w += ch;
                            break;
                        }
                    }
                }
                if (!w.empty()) {
                    emit(w == u"\u00A0" ? std::string(" ") : Utf16ToUtf8(w));
                    i = semi + 1;
                    continue;
                }
            }
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            pendingSpace = true;
            ++i;
            continue;
        }
        // The character at i is text (an '&' that starts no known entity
        // included): take it, so the scan always moves on.
        std::size_t j = i + 1;
        while (j < html.size() && html[j] != '<' && html[j] != '&' && html[j] != ' ' &&
               html[j] != '\t' && html[j] != '\r' && html[j] != '\n') {
            ++j;
        }
        if (j == i) {
            ++j; // a lone "&"
        }
        emit(html.substr(i, j - i));
        i = j;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

// ---------------------------------------------------------------------------

struct ParsedContent::Tree {
    GMimeMessage* root = nullptr;
    ~Tree() {
        if (root != nullptr) {
            g_object_unref(root);
        }
    }
};

ParsedContent::~ParsedContent() = default;

std::shared_ptr<ParsedContent> ParsedContent::Parse(std::string bytes) {
    Options();
    std::shared_ptr<ParsedContent> pc(new ParsedContent());
    pc->tree_ = std::make_shared<Tree>();
    const HeaderBlock block = SplitHeaders(bytes);
    pc->crlf_ = block.crlf;
    pc->summary_ = Summarize(block.headers);
    if (block.present) {
        GByteArray* arr = g_byte_array_sized_new(static_cast<guint>(bytes.size()));
        g_byte_array_append(arr, reinterpret_cast<const guint8*>(bytes.data() + block.prefixEnd),
                            static_cast<guint>(bytes.size() - block.prefixEnd));
        GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(arr);
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        g_mime_parser_set_persist_stream(parser, TRUE);
        pc->tree_->root = g_mime_parser_construct_message(parser, Options());
        g_object_unref(parser);
        g_object_unref(stream);
    }
    pc->message_ = pc->tree_->root;
    if (pc->message_ == nullptr) {
        pc->prologueBody_ = ToUtf8(std::string_view(bytes).substr(block.bodyOffset), nullptr);
    } else {
        GMimeObject* top = g_mime_message_get_mime_part(pc->message_);
        if (top != nullptr) {
            pc->Walk(top, nullptr, -1);
        }
    }
    pc->raw_ = std::move(bytes);
    return pc;
}

void ParsedContent::Walk(GMimeObject* object, GMimeObject* parent, int index) {
    if (GMIME_IS_MULTIPART(object)) {
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
        return;
    }
    const std::string type = LowerTypeOf(object);
    if (GMIME_IS_MESSAGE_PART(object)) {
        AttachmentInfo a;
        a.part = object;
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
        return;
    }
    if (!GMIME_IS_PART(object)) {
        return; // message/partial and the like carry nothing readable
    }
    const char* disp = g_mime_object_get_disposition(object);
    const bool attachDisp = disp != nullptr && IEquals(disp, GMIME_DISPOSITION_ATTACHMENT);
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
    const AttachmentInfo& a = attachments_[index];
    if (GMIME_IS_MESSAGE_PART(a.part)) {
        GMimeMessage* m = g_mime_message_part_get_message(GMIME_MESSAGE_PART(a.part));
        return m ? SerializeObject(GMIME_OBJECT(m), crlf_) : std::string();
    }
    return DecodedBytes(a.part);
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
    std::vector<RawHeader> headers;
    GMimeHeaderList* list = g_mime_object_get_header_list(GMIME_OBJECT(m));
    const int n = g_mime_header_list_get_count(list);
    for (int i = 0; i < n; ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
        const char* name = g_mime_header_get_name(h);
        const char* value = g_mime_header_get_raw_value(h);
        headers.push_back(RawHeader{name ? name : "", value ? value : "", 0, 0});
    }
    pc->summary_ = Summarize(headers);
    GMimeObject* top = g_mime_message_get_mime_part(m);
    if (top != nullptr) {
        pc->Walk(top, nullptr, -1);
    }
    return pc;
}

std::size_t ParsedContent::Size() {
    if (!size_) {
        size_ = message_ != nullptr && raw_.empty()
                    ? SerializeObject(GMIME_OBJECT(message_), crlf_).size()
                    : raw_.size();
    }
    return *size_;
}

std::string ParsedContent::WithNewBody(std::string_view utf8Body) {
    const std::string body =
        IsValidUtf8(utf8Body) ? std::string(utf8Body) : FromWindows1252(utf8Body);
    const char* nl = crlf_ ? "\r\n" : "\n";
    if (message_ == nullptr) {
        std::string out;
        if (!raw_.empty()) {
            const HeaderBlock block = SplitHeaders(raw_);
            out.append(raw_, 0, block.headersEnd);
        }
        out += std::string("MIME-Version: 1.0") + nl + "Content-Type: text/plain; charset=utf-8" +
               nl + "Content-Transfer-Encoding: 8bit" + nl + nl;
        out += body;
        return out;
    }
    GMimeTextPart* text = g_mime_text_part_new_with_subtype("plain");
    // Base64 keeps carriage returns as they are; quoted-printable would lose them.
    const auto bestEncoding = [&](GMimePart* part) {
        return body.find('\r') != std::string::npos
                   ? GMIME_CONTENT_ENCODING_BASE64
                   : g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT);
    };
    g_mime_text_part_set_text(text, body.c_str());
    g_mime_part_set_content_encoding(GMIME_PART(text), bestEncoding(GMIME_PART(text)));
    GMimeObject* top = g_mime_message_get_mime_part(message_);
    if (plainPart_ != nullptr && GMIME_IS_TEXT_PART(plainPart_)) {
        GMimeTextPart* tp = GMIME_TEXT_PART(plainPart_);
        g_mime_text_part_set_text(tp, body.c_str());
        g_mime_part_set_content_encoding(GMIME_PART(tp), bestEncoding(GMIME_PART(tp)));
        for (GMimeObject* extra : extraPlainParts_) {
            // The extra inline texts were shown as part of the body: they are in it now.
            g_mime_text_part_set_text(GMIME_TEXT_PART(extra), "");
        }
    } else if (htmlPart_ != nullptr && !prologueBody_) {
        GMimeMultipart* alt = g_mime_multipart_new_with_subtype("alternative");
        g_mime_multipart_add(alt, GMIME_OBJECT(text));
        g_object_ref(htmlPart_);
        if (htmlParent_ != nullptr && GMIME_IS_MULTIPART(htmlParent_)) {
            GMimeObject* old = g_mime_multipart_replace(GMIME_MULTIPART(htmlParent_), htmlIndex_,
                                                        GMIME_OBJECT(alt));
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
    } else if (top != nullptr && GMIME_IS_MULTIPART(top) && !prologueBody_ &&
               g_mime_multipart_get_count(GMIME_MULTIPART(top)) > 0) {
        g_mime_multipart_insert(GMIME_MULTIPART(top), 0, GMIME_OBJECT(text));
    } else {
        GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
        g_mime_multipart_add(mixed, GMIME_OBJECT(text));
        if (top != nullptr) {
            g_mime_multipart_add(mixed, top);
        }
        g_mime_message_set_mime_part(message_, GMIME_OBJECT(mixed));
        g_object_unref(mixed);
    }
    g_object_unref(text);
    std::string out;
    const HeaderBlock block = SplitHeaders(raw_);
    out.append(raw_, 0, block.prefixEnd);
    out += SerializeObject(GMIME_OBJECT(message_), crlf_);
    // The tree is changed now: read it again before anything else uses it.
    plain_.reset();
    html_.reset();
    return out;
}

std::string RewriteHeaders(std::string_view bytes, const std::optional<std::string>& newSubject,
                           const std::string& replaces) {
    const HeaderBlock block = SplitHeaders(bytes);
    const char* nl = block.crlf ? "\r\n" : "\n";
    std::string subjectLine;
    if (newSubject) {
        std::string clean = *newSubject;
        for (char& c : clean) {
            if (c == '\r' || c == '\n') {
                c = ' ';
            }
        }
        bool plain = clean.size() < 900;
        for (unsigned char c : clean) {
            plain = plain && c >= 0x20 && c < 0x7F;
        }
        if (plain) {
            subjectLine = "Subject: " + clean + nl;
        } else {
            GString enc(g_mime_utils_header_encode_text(nullptr, clean.c_str(), "utf-8"));
            subjectLine = std::string("Subject: ") + (enc ? enc.get() : clean.c_str()) + nl;
        }
    }
    // The names replaced before stay listed, so an identifier of any earlier
    // version of the message still leads to this one.
    std::string names = replaces;
    int kept = 0;
    for (const RawHeader& h : block.headers) {
        if (IEquals(h.name, kReplacesHeader)) {
            for (const std::string& old : Summarize({h}).replaces) {
                if (old != replaces && ++kept <= 32) {
                    names += " " + old;
                }
            }
            break;
        }
    }
    const std::string replacesLine = std::string(kReplacesHeader) + ": " + names + nl;
    std::string out;
    out.reserve(bytes.size() + 200);
    if (!block.present) {
        out += subjectLine + replacesLine + nl;
        out.append(bytes);
        return out;
    }
    out.append(bytes.substr(0, block.prefixEnd));
    bool subjectDone = false;
    for (const RawHeader& h : block.headers) {
        if (IEquals(h.name, kReplacesHeader)) {
            continue;
        }
        if (newSubject && IEquals(h.name, "Subject")) {
            if (!subjectDone) {
                out += subjectLine;
                subjectDone = true;
            }
            continue;
        }
        out.append(bytes.substr(h.begin, h.end - h.begin));
        if (h.end == bytes.size() && (out.empty() || out.back() != '\n')) {
            out += nl;
        }
    }
    if (newSubject && !subjectDone) {
        out += subjectLine;
    }
    out += replacesLine;
    if (block.bodyOffset > block.headersEnd) {
        out.append(bytes.substr(block.headersEnd)); // the blank line and the body
    } else {
        out += nl; // the body began without a blank line, or there was none
        out.append(bytes.substr(block.headersEnd));
    }
    return out;
}

} // namespace qf::mapi::maildir
