#include "i18n/escape.h"

namespace qf {
namespace {

constexpr const char* kNeedThreeDigits =
    "\\OOO You must specify all 3 octal digits (Leading zeros are required)";
constexpr const char* kOctalTooBig = "\\OOO Maximum octal value is \\377:";
constexpr const char* kTrailingBackslash =
    "Trailing \\ needs to be followed by another \\ or 3 Octal digits";
constexpr const char* kOctalUnfinished = "\\OOO Expecting 3 trailing octal digits";

[[noreturn]] void Fail(const char* text, std::string_view value) {
    throw EscapeError(std::string(text) + "\r\n\r\n" + std::string(value));
}

bool IsOctalDigit(char c) {
    return c >= '0' && c <= '7';
}

// The escapes written as a letter, and the backslash written twice.
struct NamedEscape {
    unsigned char code;
    char letter;
};
constexpr NamedEscape kNamed[] = {{7, 'a'},  {8, 'b'},  {9, 't'},  {10, 'n'}, {11, 'v'},
                                  {12, 'f'}, {13, 'r'}, {27, 'e'}, {92, '\\'}};

char LetterFor(unsigned char code) {
    for (const auto& e : kNamed) {
        if (e.code == code) {
            return e.letter;
        }
    }
    return 0;
}

int CodeFor(char letter) {
    for (const auto& e : kNamed) {
        if (e.letter == letter) {
            return e.code;
        }
    }
    return -1;
}

} // namespace

std::string EscapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (const char letter = LetterFor(c)) {
            out += '\\';
            out += letter;
        } else if (c < 32) {
            out += '\\';
            out += static_cast<char>('0' + (c >> 6));
            out += static_cast<char>('0' + ((c >> 3) & 7));
            out += static_cast<char>('0' + (c & 7));
        } else {
            out += ch;
        }
    }
    return out;
}

std::string UnescapeText(std::string_view value) {
    enum class State { Plain, Escape, Octal };
    std::string out;
    out.reserve(value.size());
    State state = State::Plain;
    unsigned octal = 0;
    int digits = 0;
    for (char c : value) {
        switch (state) {
        case State::Plain:
            if (c == '\\') {
                state = State::Escape;
            } else {
                out += c;
            }
            break;
        case State::Escape:
            state = State::Plain;
            if (IsOctalDigit(c)) {
                octal = static_cast<unsigned>(c - '0');
                digits = 1;
                state = State::Octal;
                break;
            }
            if (const int code = CodeFor(c); code >= 0) {
                out += static_cast<char>(code);
            } else {
                out += '\\';
                out += c;
            }
            break;
        case State::Octal:
            if (!IsOctalDigit(c)) {
                Fail(kNeedThreeDigits, value);
            }
            octal = octal * 8 + static_cast<unsigned>(c - '0');
            if (++digits == 3) {
                if (octal > 255) {
                    Fail(kOctalTooBig, value);
                }
                out += static_cast<char>(octal);
                state = State::Plain;
            }
            break;
        }
    }
    if (state == State::Escape) {
        Fail(kTrailingBackslash, value);
    }
    if (state == State::Octal) {
        Fail(kOctalUnfinished, value);
    }
    return out;
}

} // namespace qf
