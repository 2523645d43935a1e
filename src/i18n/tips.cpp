#include "i18n/tips.h"

#include "common/fileio.h"
#include "common/text.h"
#include "i18n/format.h"

#include <cstdint>
#include <cstdlib>

namespace qf {

std::string TipHeading(char marker) {
    switch (marker) {
    case '^':
        return "Today's tip...";
    case '?':
        return "Did you know...";
    case '\'':
        return "Today's quote...";
    case '!':
        return "Today's joke...";
    case '#':
        return "Today's message...";
    default:
        return {};
    }
}

TipBook TipBook::Parse(std::string_view bytes) {
    TipBook book;
    std::string line;
    auto flush = [&] {
        if (!line.empty()) {
            book.lines_.push_back(std::move(line));
        }
        line.clear();
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            flush();
        } else {
            line += c;
        }
    }
    flush();
    return book;
}

TipBook TipBook::Load(const std::string& path) {
    try {
        return Parse(ReadFileBytes(path));
    } catch (const std::exception&) {
        return {};
    }
}

const std::string& TipBook::Line(int index) const {
    static const std::string none = kNoTipsLine;
    if (lines_.empty()) {
        return none;
    }
    return lines_[static_cast<std::size_t>(WrapTipIndex(index, Count()))];
}

int WrapTipIndex(int index, int count) {
    if (count <= 0) {
        return 0;
    }
    // In 64 bits |INT_MIN| is a number like any other.
    const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(index));
    return static_cast<int>(magnitude % count);
}

int StepTipIndex(int index, int step, int count) {
    if (count <= 0) {
        return 0;
    }
    const std::int64_t next = static_cast<std::int64_t>(WrapTipIndex(index, count)) + step;
    if (next < 0) {
        return count - 1;
    }
    return next >= count ? 0 : static_cast<int>(next);
}

std::u16string TipText(std::string_view line) {
    std::u16string text = line.empty() ? std::u16string() : Utf8ToUtf16(line.substr(1));
    // 255 characters, not code units: a pair of surrogates counts once.
    std::size_t units = 0;
    for (int chars = 0; units < text.size() && chars < 255; ++chars) {
        units += (text[units] >= 0xD800 && text[units] < 0xDC00) ? 2 : 1;
    }
    text.resize(std::min(units, text.size()));
    const std::string cr = "\r";
    std::u16string shown = FormatWide(text, {cr, cr, cr, cr, cr});
    for (char16_t& c : shown) {
        if (c == u'\r') {
            c = u'\n';
        }
    }
    return shown;
}

} // namespace qf
