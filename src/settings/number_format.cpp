#include "settings/number_format.h"

#include "common/error.h"

#include <cstdio>

namespace qf {
namespace {

constexpr int kMaxField = 255;

[[noreturn]] void Invalid(std::string_view format) {
    throw Error("Format '" + std::string(format) + "' invalid or incompatible with argument");
}

// Reads up to three digits; returns -1 when the number is too large.
int ReadNumber(std::string_view s, size_t& i) {
    int v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        v = v * 10 + (s[i] - '0');
        if (v > kMaxField) {
            return -1;
        }
        ++i;
    }
    return v;
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
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // One conversion: %[flags][width][.precision]type
        std::string conversion = "%";
        size_t j = i + 1;
        while (j < format.size() &&
               std::string_view("-+ #0").find(format[j]) != std::string_view::npos) {
            conversion += format[j++];
        }
        const size_t widthStart = j;
        if (ReadNumber(format, j) < 0) {
            Invalid(format);
        }
        conversion.append(format.substr(widthStart, j - widthStart));
        if (j < format.size() && format[j] == '.') {
            const size_t precStart = ++j;
            if (ReadNumber(format, j) < 0) {
                Invalid(format);
            }
            conversion += '.';
            conversion.append(format.substr(precStart, j - precStart));
        }
        if (j >= format.size() || converted) {
            Invalid(format);
        }
        const char type = format[j];
        char buf[600];
        // `conversion` is built above from checked pieces only: one conversion of
        // the given type, flags from a fixed set, width and precision <= 255.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        switch (type) {
        case 'd':
        case 'i':
            conversion += type;
            std::snprintf(buf, sizeof buf, conversion.c_str(), static_cast<int>(number));
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            conversion += type;
            std::snprintf(buf, sizeof buf, conversion.c_str(), static_cast<unsigned>(number));
            break;
        default:
            Invalid(format);
        }
#pragma GCC diagnostic pop
        out += buf;
        converted = true;
        i = j;
    }
    return out;
}

} // namespace qf
