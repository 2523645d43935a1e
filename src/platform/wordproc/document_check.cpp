#include "platform/wordproc/document_check.h"

#include "common/error.h"
#include "common/fileio.h"
#include "common/text.h"

#include <magic.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <memory>

namespace qf::wordproc {
namespace {

constexpr std::size_t kProbeSize = 64 * 1024;

struct MagicCloser {
    void operator()(magic_t m) const { magic_close(m); }
};
using MagicHandle = std::unique_ptr<std::remove_pointer_t<magic_t>, MagicCloser>;

// libmagic handles are not thread-safe: one per thread and per flag set.
std::string MagicOf(std::string_view bytes, int flags) {
    thread_local MagicHandle describe;
    thread_local MagicHandle encoding;
    MagicHandle& handle = (flags & MAGIC_MIME_ENCODING) ? encoding : describe;
    if (!handle) {
        MagicHandle opened(magic_open(flags | MAGIC_ERROR));
        if (!opened || magic_load(opened.get(), nullptr) != 0) {
            return {};
        }
        handle = std::move(opened);
    }
    const char* result = magic_buffer(handle.get(), bytes.data(), bytes.size());
    return result ? std::string(result) : std::string();
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

bool IsOle2(std::string_view b) {
    return StartsWith(b, std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
}
bool IsZip(std::string_view b) {
    return StartsWith(b, "PK\x03\x04");
}
bool IsRtf(std::string_view b) {
    return StartsWith(b, "{\\rtf");
}
// Text in some 8-bit or Unicode encoding, as libmagic judges it; NUL bytes
// are never part of text we hand over (UTF-16 text carries a byte-order mark).
bool IsText(std::string_view b) {
    bool bom16 = StartsWith(b, "\xFF\xFE") || StartsWith(b, "\xFE\xFF");
    if (!bom16 && b.find('\0') != std::string_view::npos) {
        return false;
    }
    std::string enc = MagicOf(b, MAGIC_MIME_ENCODING);
    return !enc.empty() && enc != "binary";
}

struct FormatRule {
    const char* extensions; // space-separated, lower case, with spaces around
    const char* formatName; // what the extension promises, for the reason
    bool (*fits)(std::string_view);
};

// Word processors open a document whatever its extension says, and
// applicants' files are often misnamed (a .docx saved as .doc, an RTF named
// .doc): every word-processor extension takes any document container, and
// LibreOffice finds the real format.  Images, executables and random bytes
// fit none of them.
bool IsDocumentContainer(std::string_view b) {
    return IsOle2(b) || IsZip(b) || IsRtf(b) || IsText(b);
}

const std::array kRules = {
    FormatRule{" doc dot wps docx docm dotx dotm odt ott sxw stw rtf htm html xhtml fodt ",
               "a document (Word, Office Open XML, OpenDocument, RTF or HTML)",
               IsDocumentContainer},
    FormatRule{" txt xml ", "text", IsText},
};

} // namespace

std::string DescribeBytes(std::string_view bytes) {
    std::string d = MagicOf(bytes, MAGIC_NONE);
    return d.empty() ? "unknown data" : d;
}

std::optional<std::string> CheckLeadingBytes(const std::string& path) {
    std::string ext = ToLowerAscii(std::filesystem::path(path).extension().string());
    if (!ext.empty()) {
        ext.erase(0, 1);
    }
    const FormatRule* rule = nullptr;
    for (const auto& r : kRules) {
        if (!ext.empty() && std::strstr(r.extensions, (" " + ext + " ").c_str())) {
            rule = &r;
        }
    }
    std::string bytes;
    try {
        bytes = ReadFileHead(path, kProbeSize);
    } catch (const FileError& e) {
        return std::string("The attachment could not be read: ") + e.what();
    }
    if (bytes.empty()) {
        return std::string("The attachment is empty");
    }
    if (!rule || rule->fits(bytes)) {
        return std::nullopt;
    }
    return "The attachment's contents do not fit its extension ." + ext + ": expected " +
           rule->formatName + ", found " + DescribeBytes(bytes);
}

namespace {

// The code point of the UTF-8 sequence at s[i], moving i past it; nothing,
// and i moved by one byte, when the bytes there are not UTF-8 (overlong
// forms, surrogates and values beyond Unicode included).
std::optional<char32_t> DecodeUtf8At(std::string_view s, std::size_t& i) {
    auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0;
    std::size_t len = 0;
    if (c < 0x80) {
        cp = c;
        len = 1;
    } else if ((c & 0xE0) == 0xC0) {
        cp = c & 0x1F;
        len = 2;
    } else if ((c & 0xF0) == 0xE0) {
        cp = c & 0x0F;
        len = 3;
    } else if ((c & 0xF8) == 0xF0) {
        cp = c & 0x07;
        len = 4;
    }
    bool valid = len != 0 && i + len <= s.size();
    for (std::size_t k = 1; valid && k < len; ++k) {
        auto cc = static_cast<unsigned char>(s[i + k]);
        valid = (cc & 0xC0) == 0x80;
        cp = (cp << 6) | (cc & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return std::nullopt;
    }
    i += len;
    return cp;
}

bool IsBlank(char32_t cp) {
    return cp == ' ' || cp == '\t' || cp == '\n' || cp == '\r' || cp == '\f' || cp == '\v' ||
           cp == 0xA0 || cp == 0x2028 || cp == 0x2029;
}

// Control characters, private-use and non-characters, U+FFFD.
bool IsUnprintable(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xFFFD ||
           (cp >= 0xE000 && cp <= 0xF8FF) || (cp >= 0xFDD0 && cp <= 0xFDEF) ||
           (cp & 0xFFFE) == 0xFFFE || cp >= 0xF0000;
}

} // namespace

PrintableCount CountPrintable(std::string_view s) {
    PrintableCount count;
    std::size_t i = 0;
    while (i < s.size()) {
        std::optional<char32_t> cp = DecodeUtf8At(s, i);
        if (cp && IsBlank(*cp)) {
            continue;
        }
        ++count.visible;
        if (!cp || IsUnprintable(*cp)) {
            ++count.unprintable;
        }
    }
    return count;
}

bool IsMostlyUnprintable(std::string_view utf8) {
    PrintableCount c = CountPrintable(utf8);
    return c.unprintable * 4 > c.visible;
}

} // namespace qf::wordproc
