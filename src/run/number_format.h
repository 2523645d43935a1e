// printf-style formatting of a file name with the running file number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qf {

// Formats `format` with `number` as its only argument, the way printf does:
// "%%" is a per-cent sign, and at most one integer conversion (d, i, u, x, X
// or o, with flags "-+ #0", a width and a precision) takes the number.  A
// format without a conversion is returned with its "%%" undoubled.  Any other
// conversion, a second one, a "*" width or a lone "%" throws Error with the
// text "Format '<format>' invalid or incompatible with argument".
std::string FormatFileNumber(std::string_view format, std::int32_t number);

} // namespace qf
