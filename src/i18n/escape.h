// The escaping of values in a language file.  Every value is kept on one
// line: control characters and the backslash are written as backslash
// escapes, every other byte stands for itself.
#pragma once

#include "common/error.h"

#include <string>
#include <string_view>

namespace qf {

// The help topic that explains the escapes of a language file.
inline constexpr int kEscapeHelpTopic = 530;

// A malformed escape in a language file value.  The message is one of the
// escape error texts, CR LF CR LF, and the whole value in which it was found.
class EscapeError : public Error {
public:
    using Error::Error;
    int HelpTopic() const { return kEscapeHelpTopic; }
};

// Codes 7-13 and 27 become \a \b \t \n \v \f \r \e, a backslash becomes two,
// codes 0-6, 14-26 and 28-31 become a backslash and three octal digits; every
// other byte is kept.
std::string EscapeText(std::string_view text);

// Reverses EscapeText.  A backslash before any character it does not know
// stays, together with that character.  Throws EscapeError.
std::string UnescapeText(std::string_view value);

} // namespace qf
