// Until the language file loader lands, every lookup passes its default
// through; formatting already follows the printf rules of the templates.
#include "i18n/translate.h"

#include "common/error.h"
#include "common/text.h"

namespace qf {
namespace {

// Formats a template with %s, %d and %% only; throws on a mismatch.
std::string Format(std::string_view tmpl, std::initializer_list<FmtArg> args) {
    std::string out;
    auto it = args.begin();
    for (size_t i = 0; i < tmpl.size(); ++i) {
        if (tmpl[i] != '%') {
            out += tmpl[i];
            continue;
        }
        if (++i >= tmpl.size()) {
            throw Error("Format error");
        }
        char c = tmpl[i];
        if (c == '%') {
            out += '%';
            continue;
        }
        if (it == args.end()) {
            throw Error("Format error");
        }
        if (c == 's' && std::holds_alternative<std::string>(*it)) {
            out += std::get<std::string>(*it);
        } else if (c == 'd' && std::holds_alternative<std::int64_t>(*it)) {
            out += std::to_string(std::get<std::int64_t>(*it));
        } else {
            throw Error("Format error");
        }
        ++it;
    }
    return out;
}

} // namespace

std::string TranslateMsg(int, std::string_view english) {
    return std::string(english);
}

std::u16string TranslateMsgW(int number, std::string_view english) {
    return Utf8ToUtf16(TranslateMsg(number, english));
}

std::u16string TranslateFmtW(int number, std::u16string_view tmpl,
                             std::initializer_list<FmtArg> args) {
    const std::string t = Utf16ToUtf8(tmpl);
    try {
        return Utf8ToUtf16(Format(TranslateMsg(number, t), args));
    } catch (const Error&) {
    }
    try {
        return Utf8ToUtf16(Format(t, args));
    } catch (const Error&) {
    }
    return u"WideFormatErr(" + Utf8ToUtf16(std::to_string(number)) + u"):" + std::u16string(tmpl);
}

std::string TranslateFmt(int number, std::string_view tmpl, std::initializer_list<FmtArg> args) {
    return Utf16ToUtf8(TranslateFmtW(number, Utf8ToUtf16(tmpl), args));
}

} // namespace qf
