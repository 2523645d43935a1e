#include "common/legacy_text.h"

#include "common/text.h"

#include <uchardet.h>

#include <cerrno>
#include <iconv.h>
#include <memory>
#include <optional>

namespace qf {

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

std::string Utf8OrWindows1252(std::string_view bytes) {
    return IsValidUtf8(bytes) ? std::string(bytes) : FromWindows1252(bytes);
}

namespace {

struct DetectorCloser {
    void operator()(uchardet_t d) const { uchardet_delete(d); }
};

struct IconvCloser {
    void operator()(iconv_t* cd) const {
        iconv_close(*cd);
        delete cd;
    }
};

// `bytes` converted from `encoding` by iconv; nothing when the encoding is
// unknown or a byte does not convert.
std::optional<std::string> Convert(std::string_view bytes, const std::string& encoding) {
    iconv_t cd = iconv_open("UTF-8", encoding.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    const std::unique_ptr<iconv_t, IconvCloser> closer(new iconv_t(cd));
    std::string out(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) == static_cast<std::size_t>(-1)) {
            if (errno != E2BIG) {
                return std::nullopt; // an invalid or incomplete sequence
            }
            const std::size_t used = out.size() - outLeft;
            out.resize(out.size() * 2);
            dst = out.data() + used;
            outLeft = out.size() - used;
        }
    }
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

std::string DetectEncoding(std::string_view bytes) {
    const std::unique_ptr<std::remove_pointer_t<uchardet_t>, DetectorCloser> detector(
        uchardet_new());
    if (!detector || uchardet_handle_data(detector.get(), bytes.data(), bytes.size()) != 0) {
        return {};
    }
    uchardet_data_end(detector.get());
    const char* name = uchardet_get_charset(detector.get());
    std::string upper = name != nullptr ? name : "";
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

std::string LegacyTextToUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes)) {
        if (bytes.starts_with("\xEF\xBB\xBF")) {
            bytes.remove_prefix(3);
        }
        return std::string(bytes);
    }
    const std::string encoding = DetectEncoding(bytes);
    if (!encoding.empty() && encoding != "WINDOWS-1252" && encoding != "ISO-8859-1" &&
        encoding != "ASCII" && encoding != "UTF-8") {
        if (std::optional<std::string> text = Convert(bytes, encoding)) {
            return std::move(*text);
        }
    }
    return FromWindows1252(bytes);
}

} // namespace qf
