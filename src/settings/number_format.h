// Output file names: a printf-style format that takes the file number as its
// single integer argument, e.g. "%5.5d.txt" gives "00001.txt" for 1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qf {

// Formats `number` with `format`.  The format may hold at most one integer
// conversion (d, i, u, x, X or o) with optional flags "-+ #0", a width and a
// precision (each at most 255), and any number of "%%" for a literal per cent
// sign; a format without a conversion is copied as it stands.  Anything else
// (another conversion, a second one, "*", a length modifier, a trailing "%")
// throws qf::Error "Format '<format>' invalid or incompatible with argument".
std::string FormatFileNumber(std::string_view format, std::int32_t number);

} // namespace qf
