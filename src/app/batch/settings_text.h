// The settings record as text, one field per line: "name = value".
#pragma once

#include "settings/settings.h"

#include <string>
#include <string_view>

namespace qf::batch {

// The escapes of language files: \a \b \t \n \v \f \r \e, a backslash doubled,
// other control characters as a backslash and three octal digits; every other
// byte (UTF-8 included) as it stands.
std::string EscapeText(std::string_view text);

// Every field of the record, texts escaped, booleans true/false, identifiers
// in lower-case hexadecimal, lists as their CR LF text.
std::string DescribeSettings(const TSettings& s);

} // namespace qf::batch
