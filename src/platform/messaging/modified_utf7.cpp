#include "platform/messaging/modified_utf7.h"

#include "common/text.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace qf::mapi {

namespace {

// The value of a character of the modified base64 alphabet ("," for "/"), or -1.
int Base64Value(char b) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
    const std::size_t v = kAlphabet.find(b);
    return v == std::string_view::npos ? -1 : static_cast<int>(v);
}

// The UTF-16 units a shifted run of modified base64 encodes, or nothing when it
// holds a character outside the alphabet.
std::optional<std::u16string> DecodeShifted(std::string_view run) {
    std::u16string out;
    std::uint32_t bits = 0;
    int nbits = 0;
    for (char b : run) {
        const int v = Base64Value(b);
        if (v < 0) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        nbits += 6;
        if (nbits >= 16) {
            nbits -= 16;
            out += static_cast<char16_t>((bits >> nbits) & 0xFFFF);
        }
    }
    return out;
}

} // namespace

std::string DecodeModifiedUtf7(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '&') {
            if (static_cast<unsigned char>(c) >= 0x80) {
                return text; // already 8-bit: shown as it is
            }
            out += static_cast<char16_t>(c);
            continue;
        }
        const std::size_t end = text.find('-', i + 1);
        if (end == std::string::npos) {
            return text;
        }
        if (end == i + 1) {
            out += u'&';
        } else if (auto units = DecodeShifted(std::string_view(text).substr(i + 1, end - i - 1))) {
            out += *units;
        } else {
            return text;
        }
        i = end;
    }
    return Utf16ToUtf8(out);
}

} // namespace qf::mapi
