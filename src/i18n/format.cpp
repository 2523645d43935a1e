#include "i18n/format.h"

#include "common/error.h"
#include "common/text.h"

#include <cstdint>

namespace qf {
namespace {

constexpr size_t kMaxField = 4096;

struct Conversion {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool zero = false;
    bool alt = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
};

[[noreturn]] void Invalid(std::u16string_view tmpl) {
    throw Error("Format '" + Utf16ToUtf8(tmpl) + "' invalid or incompatible with argument");
}

std::u16string Digits(std::uint64_t v, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), static_cast<char16_t>(set[v % base]));
        v /= base;
    } while (v != 0);
    return out;
}

void Pad(std::u16string& out, const Conversion& conv, std::u16string_view prefix,
         std::u16string_view body, bool numeric) {
    const size_t len = prefix.size() + body.size();
    const size_t fill = conv.width > len ? conv.width - len : 0;
    if (conv.left) {
        out.append(prefix).append(body).append(fill, u' ');
    } else if (numeric && conv.zero && !conv.hasPrecision) {
        out.append(prefix).append(fill, u'0').append(body);
    } else {
        out.append(fill, u' ').append(prefix).append(body);
    }
}

} // namespace

std::u16string FormatWide(std::u16string_view tmpl, std::span<const FmtArg> args) {
    std::u16string out;
    size_t next = 0;
    size_t i = 0;
    auto readNumber = [&](size_t& value) {
        value = 0;
        while (i < tmpl.size() && tmpl[i] >= u'0' && tmpl[i] <= u'9') {
            value = value * 10 + static_cast<size_t>(tmpl[i] - u'0');
            if (value > kMaxField) {
                Invalid(tmpl);
            }
            ++i;
        }
    };
    while (i < tmpl.size()) {
        const char16_t c = tmpl[i++];
        if (c != u'%') {
            out += c;
            continue;
        }
        if (i < tmpl.size() && tmpl[i] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        Conversion conv;
        for (; i < tmpl.size(); ++i) {
            const char16_t f = tmpl[i];
            if (f == u'-') {
                conv.left = true;
            } else if (f == u'+') {
                conv.plus = true;
            } else if (f == u' ') {
                conv.space = true;
            } else if (f == u'0') {
                conv.zero = true;
            } else if (f == u'#') {
                conv.alt = true;
            } else {
                break;
            }
        }
        readNumber(conv.width);
        if (i < tmpl.size() && tmpl[i] == u'.') {
            ++i;
            conv.hasPrecision = true;
            readNumber(conv.precision);
        }
        if (i >= tmpl.size() || next >= args.size()) {
            Invalid(tmpl);
        }
        const char16_t type = tmpl[i++];
        const FmtArg& arg = args[next++];
        if (type == u's') {
            const auto* text = std::get_if<std::string>(&arg);
            if (!text) {
                Invalid(tmpl);
            }
            std::u16string body = Utf8ToUtf16(*text);
            if (conv.hasPrecision && body.size() > conv.precision) {
                size_t cut = conv.precision;
                // Never keep half of a surrogate pair.
                if (cut > 0 && body[cut - 1] >= 0xD800 && body[cut - 1] <= 0xDBFF) {
                    --cut;
                }
                body.resize(cut);
            }
            Pad(out, conv, u"", body, false);
            continue;
        }
        const auto* number = std::get_if<std::int64_t>(&arg);
        if (!number) {
            Invalid(tmpl);
        }
        std::u16string prefix;
        std::u16string body;
        if (type == u'd' || type == u'i') {
            const bool negative = *number < 0;
            const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(*number)
                                                     : static_cast<std::uint64_t>(*number);
            body = Digits(magnitude, 10, false);
            prefix = negative ? u"-" : conv.plus ? u"+" : conv.space ? u" " : u"";
        } else if (type == u'u') {
            body = Digits(static_cast<std::uint64_t>(*number), 10, false);
        } else if (type == u'x' || type == u'X') {
            const bool upper = type == u'X';
            body = Digits(static_cast<std::uint64_t>(*number), 16, upper);
            if (conv.alt && *number != 0) {
                prefix = upper ? u"0X" : u"0x";
            }
        } else {
            Invalid(tmpl);
        }
        if (conv.hasPrecision) {
            if (conv.precision == 0 && *number == 0) {
                body.clear();
            } else if (body.size() < conv.precision) {
                body.insert(0, conv.precision - body.size(), u'0');
            }
        }
        Pad(out, conv, prefix, body, true);
    }
    return out;
}

} // namespace qf
