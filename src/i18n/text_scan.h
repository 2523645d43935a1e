// Finds the numbered language texts in source code, as a message catalogue
// tool does: every call of TranslateMsg, TranslateMsgW, TranslateFmt or
// TranslateFmtW whose first argument is a number literal and whose second
// is one or more adjacent string literals.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qf {

struct NumberedText {
    int number = 0;
    std::string english; // UTF-8, escapes of the literal resolved
    bool operator==(const NumberedText&) const = default;
};

// The numbered texts of one source file, in order of appearance.  Calls whose
// arguments are not literals are skipped.
std::vector<NumberedText> ScanNumberedTexts(std::string_view source);

// Merges `more` into `texts`: the first text of a number wins; the result is
// sorted by number.
void MergeNumberedTexts(std::vector<NumberedText>& texts, const std::vector<NumberedText>& more);

} // namespace qf
