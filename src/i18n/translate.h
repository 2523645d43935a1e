// Language texts: every message a user sees is looked up by its number in
// the current language file, with its English text as the default.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace qf {

// An argument of a printf-style template: "%d" takes a number, "%s" a text.
using FmtArg = std::variant<std::int64_t, std::string>;

// The text numbered `number` in section "global" of the current language
// file (an entry with an empty value gives an empty text), or `english` when
// there is none.  Throws EscapeError (i18n/escape.h) when the file's entry
// is malformed.
std::string TranslateMsg(int number, std::string_view english);
// The same as UTF-16.
std::u16string TranslateMsgW(int number, std::string_view english);
// The translated template formatted with `args` (printf rules: i18n/format.h).
// When the entry is malformed or does not fit the arguments, the English
// template formatted; when that does not fit either,
// "WideFormatErr(<number>):<template>" unformatted.  Never throws.
std::u16string TranslateFmtW(int number, std::u16string_view tmpl,
                             std::initializer_list<FmtArg> args);
// UTF-8 convenience over TranslateFmtW.
std::string TranslateFmt(int number, std::string_view tmpl, std::initializer_list<FmtArg> args);

} // namespace qf
