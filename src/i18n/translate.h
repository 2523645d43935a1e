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

// The text numbered `number` in the current language file, or `english`.
std::string TranslateMsg(int number, std::string_view english);
// The same as UTF-16.
std::u16string TranslateMsgW(int number, std::string_view english);
// The translated template formatted with `args`; falls back to the English
// template, then to "WideFormatErr(<number>):<template>".
std::u16string TranslateFmtW(int number, std::u16string_view tmpl,
                             std::initializer_list<FmtArg> args);
// UTF-8 convenience over TranslateFmtW.
std::string TranslateFmt(int number, std::string_view tmpl, std::initializer_list<FmtArg> args);

} // namespace qf
