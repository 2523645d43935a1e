#include "i18n/translate.h"

#include "common/text.h"
#include "i18n/format.h"
#include "i18n/loadstrings.h"

namespace qf {

std::string TranslateMsg(int number, std::string_view english) {
    if (auto text = GetStringLoader().Translation(kGlobalSection, std::to_string(number))) {
        return *std::move(text);
    }
    return std::string(english);
}

std::u16string TranslateMsgW(int number, std::string_view english) {
    return Utf8ToUtf16(TranslateMsg(number, english));
}

std::u16string TranslateFmtW(int number, std::u16string_view tmpl,
                             std::initializer_list<FmtArg> args) {
    try {
        return FormatWide(TranslateMsgW(number, Utf16ToUtf8(tmpl)), args);
    } catch (...) {
        // A bad entry in the language file: the English template follows.
    }
    try {
        return FormatWide(tmpl, args);
    } catch (...) {
    }
    try {
        return u"WideFormatErr(" + Utf8ToUtf16(std::to_string(number)) + u"):" +
               std::u16string(tmpl);
    } catch (...) {
        return {};
    }
}

std::string TranslateFmt(int number, std::string_view tmpl, std::initializer_list<FmtArg> args) {
    return Utf16ToUtf8(TranslateFmtW(number, Utf8ToUtf16(tmpl), args));
}

} // namespace qf
