// The tips of the day: one tip per line of TIPS.TXT, the line's first
// character choosing its heading, the rest a template in which "%s" breaks
// the line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qf {

// The heading shown for a tip line's first character: "^" "Today's tip...",
// "?" "Did you know...", "'" "Today's quote...", "!" "Today's joke...",
// "#" "Today's message...", anything else none.
std::string TipHeading(char marker);

// The line shown when there are no tips.
inline constexpr const char* kNoTipsLine = "^Couldn't locate TIPS.TXT";

class TipBook {
public:
    // The tips of a file's bytes: lines end in CR LF, LF or CR; empty lines
    // are dropped (a line of blanks is a tip).
    static TipBook Parse(std::string_view bytes);
    // The tips of the file at `path`; none when it is missing or unreadable.
    static TipBook Load(const std::string& path);

    bool Empty() const { return lines_.empty(); }
    int Count() const { return static_cast<int>(lines_.size()); }
    // Tip number `index` after WrapTipIndex; kNoTipsLine when there are none.
    const std::string& Line(int index) const;

private:
    std::vector<std::string> lines_;
};

// |index| mod count, for every int including INT_MIN (count > 0).
int WrapTipIndex(int index, int count);
// One step forwards (+1) or backwards (-1) from a wrapped index: below 0
// becomes the last tip, past the last one the first.
int StepTipIndex(int index, int step, int count);

// The text a line shows: from its second character, at most 255 characters,
// each "%s" a line break ("\n") and "%%" a per-cent sign.  Throws Error when
// the text is no template for five texts (for example "%d" or six "%s").
std::u16string TipText(std::string_view line);

} // namespace qf
