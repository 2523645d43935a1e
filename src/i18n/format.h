// printf-style formatting of the templates of language texts.
#pragma once

#include "i18n/translate.h"

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace qf {

// Formats `tmpl` with `args`.  A conversion is "%" [flags] [width]
// ["." precision] type, where the flags are any of "-+ 0#", width and
// precision are decimal numbers (at most 4096), and the type is one of
//   d i   a number in decimal (precision: minimum number of digits)
//   u     a number in decimal, taken as unsigned
//   x X   a number in hexadecimal, taken as unsigned ("#" adds 0x / 0X)
//   s     a text (precision: at most that many characters)
// and "%%" gives one "%".  Widths and precisions count UTF-16 code units.
// Arguments left over are ignored, as printf does.  Throws Error when a
// conversion is malformed, lacks its argument or meets an argument of the
// other kind.
std::u16string FormatWide(std::u16string_view tmpl, std::span<const FmtArg> args);

inline std::u16string FormatWide(std::u16string_view tmpl, std::initializer_list<FmtArg> args) {
    return FormatWide(tmpl, std::span<const FmtArg>(args.begin(), args.size()));
}

} // namespace qf
