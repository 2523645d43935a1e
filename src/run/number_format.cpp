#include "run/number_format.h"

#include "common/error.h"

#include <string>

namespace qf {
namespace {

// Widths and precisions beyond this cannot make a usable file name.
constexpr unsigned kMaxField = 4096;

[[noreturn]] void FormatError(std::string_view format) {
    throw Error("Format '" + std::string(format) + "' invalid or incompatible with argument");
}

std::string Digits(std::uint32_t value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[value % base]);
        value /= base;
    } while (value != 0);
    return out;
}

struct Spec {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    unsigned width = 0;
    bool hasPrecision = false;
    unsigned precision = 0;
    char conversion = 0;
};

std::string Convert(const Spec& s, std::int32_t number) {
    std::string sign, prefix, digits;
    const bool isSigned = s.conversion == 'd' || s.conversion == 'i';
    const auto bits = static_cast<std::uint32_t>(number);
    if (isSigned) {
        const std::uint32_t magnitude = number < 0 ? 0u - bits : bits;
        digits = Digits(magnitude, 10, false);
        sign = number < 0 ? "-" : s.plus ? "+" : s.space ? " " : "";
    } else if (s.conversion == 'u') {
        digits = Digits(bits, 10, false);
    } else if (s.conversion == 'o') {
        digits = Digits(bits, 8, false);
    } else {
        digits = Digits(bits, 16, s.conversion == 'X');
        if (s.alt && bits != 0) {
            prefix = s.conversion == 'X' ? "0X" : "0x";
        }
    }
    if (s.hasPrecision && s.precision == 0 && number == 0) {
        digits.clear();
    }
    if (s.hasPrecision && digits.size() < s.precision) {
        digits.insert(0, s.precision - digits.size(), '0');
    }
    if (s.conversion == 'o' && s.alt && (digits.empty() || digits[0] != '0')) {
        digits.insert(0, 1, '0');
    }
    const size_t length = sign.size() + prefix.size() + digits.size();
    if (length >= s.width) {
        return sign + prefix + digits;
    }
    const size_t pad = s.width - length;
    if (s.left) {
        return sign + prefix + digits + std::string(pad, ' ');
    }
    if (s.zero && !s.hasPrecision) {
        return sign + prefix + std::string(pad, '0') + digits;
    }
    return std::string(pad, ' ') + sign + prefix + digits;
}

} // namespace

std::string FormatFileNumber(std::string_view format, std::int32_t number) {
    std::string out;
    bool converted = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        if (++i >= format.size()) {
            FormatError(format);
        }
        if (format[i] == '%') {
            out += '%';
            continue;
        }
        Spec s;
        for (; i < format.size(); ++i) {
            const char f = format[i];
            if (f == '-') {
                s.left = true;
            } else if (f == '+') {
                s.plus = true;
            } else if (f == ' ') {
                s.space = true;
            } else if (f == '#') {
                s.alt = true;
            } else if (f == '0') {
                s.zero = true;
            } else {
                break;
            }
        }
        auto readNumber = [&](unsigned& into) {
            while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
                into = into * 10 + static_cast<unsigned>(format[i] - '0');
                if (into > kMaxField) {
                    FormatError(format);
                }
                ++i;
            }
        };
        readNumber(s.width);
        if (i < format.size() && format[i] == '.') {
            ++i;
            s.hasPrecision = true;
            readNumber(s.precision);
        }
        if (i >= format.size()) {
            FormatError(format);
        }
        s.conversion = format[i];
        const bool integer = s.conversion == 'd' || s.conversion == 'i' || s.conversion == 'u' ||
                             s.conversion == 'x' || s.conversion == 'X' || s.conversion == 'o';
        if (!integer || converted) {
            FormatError(format);
        }
        converted = true;
        out += Convert(s, number);
    }
    return out;
}

} // namespace qf
