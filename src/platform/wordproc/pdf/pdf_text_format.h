// The parts of PDF reading that need no PDF library: how the helper program
// and its caller agree on the result, and the clean-up of the text Poppler
// gives.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qf::pdf {

// The exit codes of quillfence-pdftext.  The text goes to standard output
// with Text and Incomplete only.
enum class HelperExit : int {
    Text = 0,
    Usage = 2,
    Damaged = 3,
    NeedsPassword = 4,
    NoText = 5,
    Incomplete = 6,
    TooLarge = 7,
};

// The page text as a reader wants it: ligatures (U+FB00 to U+FB06) spelt out
// as their letters, soft hyphens removed, and a word split by a soft hyphen at
// a line end joined again.
std::string NormalizePdfText(std::string_view utf8);

// The pages in order, each ending with its last line, separated by a form
// feed; blank pages before the first text and blank lines at the end of the
// whole text are left out.
std::string JoinPages(const std::vector<std::string>& pages);

// True when `text` holds nothing but white space (and form feeds).
bool IsBlankText(std::string_view text);

// True when the last bytes of a file (`tail`, up to its last 1024) hold the
// end-of-file marker a complete PDF ends with.
bool HasEndOfFileMarker(std::string_view tail);

} // namespace qf::pdf
