#include "platform/messaging/mime/decode.h"

#include "platform/messaging/mime/gmime_support.h"

#include "common/legacy_text.h"
#include "common/text.h"

namespace qf::mapi::mime {

namespace {

struct EncodedWord {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string charset;
    bool base64 = false;
    std::string payload;
};

// Reads the encoded word "=?charset?X?payload?=" that starts at `pos`.
bool ParseEncodedWord(std::string_view text, std::size_t pos, EncodedWord& w) {
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
}

void AppendBase64Decoded(const std::string& payload, std::string& into) {
    gsize len = 0;
    guchar* data = g_base64_decode(payload.c_str(), &len);
    into.append(reinterpret_cast<const char*>(data), len);
    g_free(data);
}

// The base64 word `first` and the words of its charset that follow it (across
// blanks) as one word; `next` receives the position after the last one.
std::string MergeRun(std::string_view text, const EncodedWord& first, std::size_t& next) {
    std::string bytes;
    AppendBase64Decoded(first.payload, bytes);
    next = first.end;
    bool merged = false;
    for (;;) {
        std::size_t ws = next;
        while (ws < text.size() && (text[ws] == ' ' || text[ws] == '\t')) {
            ++ws;
        }
        EncodedWord w;
        if (!ParseEncodedWord(text, ws, w) || !w.base64 ||
            !EqualsNoCase(w.charset, first.charset)) {
            break;
        }
        AppendBase64Decoded(w.payload, bytes);
        next = w.end;
        merged = true;
    }
    if (!merged) {
        return std::string(text.substr(first.begin, first.end - first.begin));
    }
    GString enc(g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
    return "=?" + first.charset + "?B?" + enc.get() + "?=";
}

} // namespace

std::string MergeBase64Words(std::string_view text) {
    if (text.find("=?") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        EncodedWord first;
        if (!ParseEncodedWord(text, pos, first) || !first.base64) {
            out += text[pos++];
            continue;
        }
        out += MergeRun(text, first, pos);
    }
    return out;
}

namespace {

bool IsLatin1Label(const std::string& cs) {
    return cs == "iso-8859-1" || cs == "latin1" || cs == "windows-1252" || cs == "cp1252";
}

bool IsUtf8Label(const std::string& cs) {
    return cs.empty() || cs == "utf-8" || cs == "utf8" || cs == "us-ascii" || cs == "ascii";
}

} // namespace

std::string Trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') {
        s.remove_prefix(1);
    }
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') {
        s.remove_suffix(1);
    }
    return std::string(s);
}

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

std::string DecodeHeaderText(std::string_view raw) {
    const std::string merged = MergeBase64Words(Trimmed(Unfold(raw)));
    GString decoded(g_mime_utils_header_decode_text(ParserOptions(), merged.c_str()));
    std::string out = Utf8OrWindows1252(decoded ? decoded.get() : merged);
    // Control characters (a decoded CR or LF, say) have no place in a one-line value.
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            c = ' ';
        }
    }
    return Trimmed(out);
}

std::string ToUtf8(std::string_view bytes, const char* charset) {
    const std::string cs = charset ? ToLowerAscii(Trimmed(charset)) : std::string();
    // Mislabelled UTF-8 is common; real Latin-1 text is almost never valid UTF-8.
    if (cs.empty() || cs == "us-ascii" || cs == "ascii") {
        // No charset, or ASCII that is not: the bytes say what they are.
        return LegacyTextToUtf8(bytes);
    }
    if (IsUtf8Label(cs) || IsLatin1Label(cs)) {
        return Utf8OrWindows1252(bytes);
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
    return LegacyTextToUtf8(bytes);
}

} // namespace qf::mapi::mime
