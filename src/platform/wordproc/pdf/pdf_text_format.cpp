#include "platform/wordproc/pdf/pdf_text_format.h"

#include <array>

namespace qf::pdf {
namespace {

// U+FB00 to U+FB06 in UTF-8: EF AC 80 to EF AC 86.
constexpr std::array<std::string_view, 7> kLigatures = {"ff", "fi", "fl", "ffi", "ffl", "st", "st"};

bool IsSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

// After a soft hyphen (`i` is the byte after it): the position of the next
// line's first letter when only blanks and one line break lie between;
// npos otherwise.
std::size_t LineBreakAfter(std::string_view s, std::size_t i) {
    while (i < s.size() && IsSpaceOrTab(s[i])) {
        ++i;
    }
    if (i < s.size() && s[i] == '\r') {
        ++i;
    }
    if (i >= s.size() || s[i] != '\n') {
        return std::string_view::npos;
    }
    ++i;
    while (i < s.size() && IsSpaceOrTab(s[i])) {
        ++i;
    }
    // A blank line or the end of the page next: the word ended there.
    if (i >= s.size() || s[i] == '\r' || s[i] == '\n' || s[i] == '\f') {
        return std::string_view::npos;
    }
    return i;
}

} // namespace

std::string NormalizePdfText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c == 0xEF && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0xAC) {
            const auto last = static_cast<unsigned char>(utf8[i + 2]);
            if (last >= 0x80 && last <= 0x86) {
                out += kLigatures[last - 0x80];
                i += 3;
                continue;
            }
        }
        if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0xAD) {
            const std::size_t next = LineBreakAfter(utf8, i + 2);
            i = next == std::string_view::npos ? i + 2 : next;
            continue;
        }
        out += utf8[i];
        ++i;
    }
    return out;
}

std::string JoinPages(const std::vector<std::string>& pages) {
    std::string out;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        if (!out.empty()) {
            out += '\f'; // blank pages before the first text are left out
        }
        std::string_view page = pages[p];
        while (!page.empty() && (page.back() == '\n' || page.back() == '\r' ||
                                 IsSpaceOrTab(page.back()) || page.back() == '\f')) {
            page.remove_suffix(1);
        }
        out += page;
        if (!page.empty()) {
            out += '\n';
        }
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\f')) {
        out.pop_back();
    }
    return out;
}

bool IsBlankText(std::string_view text) {
    for (const char c : text) {
        if (!IsSpaceOrTab(c) && c != '\n' && c != '\r' && c != '\f' && c != '\v') {
            return false;
        }
    }
    return true;
}

bool HasEndOfFileMarker(std::string_view tail) {
    if (tail.size() > 1024) {
        tail.remove_prefix(tail.size() - 1024);
    }
    return tail.find("%%EOF") != std::string_view::npos;
}

} // namespace qf::pdf
