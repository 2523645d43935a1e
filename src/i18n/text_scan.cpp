#include "i18n/text_scan.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace qf {
namespace {

class Cursor {
public:
    Cursor(std::string_view text, std::size_t pos) : text_(text), pos_(pos) {}

    void SkipSpace() {
        while (pos_ < text_.size()) {
            if (std::isspace(static_cast<unsigned char>(text_[pos_]))) {
                ++pos_;
            } else if (text_.substr(pos_, 2) == "//") {
                const auto end = text_.find('\n', pos_);
                pos_ = end == std::string_view::npos ? text_.size() : end;
            } else if (text_.substr(pos_, 2) == "/*") {
                const auto end = text_.find("*/", pos_ + 2);
                pos_ = end == std::string_view::npos ? text_.size() : end + 2;
            } else {
                return;
            }
        }
    }
    bool Take(char c) {
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::optional<int> Number() {
        SkipSpace();
        long value = 0;
        std::size_t start = pos_;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])) &&
               pos_ - start < 9) {
            value = value * 10 + (text_[pos_] - '0');
            ++pos_;
        }
        if (pos_ == start) {
            return std::nullopt;
        }
        return static_cast<int>(value);
    }
    // One or more adjacent string literals ("...", u"...", u8"...").
    std::optional<std::string> Strings() {
        std::optional<std::string> result;
        while (true) {
            SkipSpace();
            std::size_t p = pos_;
            if (text_.substr(p, 2) == "u8") {
                p += 2;
            } else if (p < text_.size() && (text_[p] == 'u' || text_[p] == 'L')) {
                ++p;
            }
            if (p >= text_.size() || text_[p] != '"') {
                return result;
            }
            pos_ = p + 1;
            std::string piece;
            if (!Literal(piece)) {
                return std::nullopt;
            }
            result = result.value_or("") + piece;
        }
    }

private:
    bool Literal(std::string& out) {
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') {
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) {
                return false;
            }
            out += Escaped(text_[pos_++]);
        }
        return false;
    }
    static char Escaped(char c) {
        switch (c) {
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        case 'a':
            return '\a';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'v':
            return '\v';
        case '0':
            return '\0';
        default:
            return c; // \" \\ \' \?
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace

std::vector<NumberedText> ScanNumberedTexts(std::string_view source) {
    std::vector<NumberedText> found;
    static constexpr std::string_view kNames[] = {"TranslateFmtW", "TranslateMsgW", "TranslateFmt",
                                                  "TranslateMsg"};
    std::size_t pos = 0;
    while ((pos = source.find("Translate", pos)) != std::string_view::npos) {
        const bool wordStart =
            pos == 0 ||
            !(std::isalnum(static_cast<unsigned char>(source[pos - 1])) || source[pos - 1] == '_');
        std::size_t nameEnd = 0;
        for (std::string_view name : kNames) {
            if (source.substr(pos, name.size()) == name) {
                nameEnd = pos + name.size();
                break;
            }
        }
        pos += 9;
        if (!wordStart || nameEnd == 0) {
            continue;
        }
        Cursor cursor(source, nameEnd);
        if (!cursor.Take('(')) {
            continue;
        }
        const std::optional<int> number = cursor.Number();
        if (!number || !cursor.Take(',')) {
            continue;
        }
        if (std::optional<std::string> text = cursor.Strings()) {
            found.push_back({*number, *text});
        }
    }
    return found;
}

void MergeNumberedTexts(std::vector<NumberedText>& texts, const std::vector<NumberedText>& more) {
    for (const NumberedText& text : more) {
        const bool known = std::any_of(texts.begin(), texts.end(), [&](const NumberedText& t) {
            return t.number == text.number;
        });
        if (!known) {
            texts.push_back(text);
        }
    }
    std::stable_sort(texts.begin(), texts.end(), [](const NumberedText& a, const NumberedText& b) {
        return a.number < b.number;
    });
}

} // namespace qf
