// Text of unknown encoding turned into UTF-8: a CV saved as a .txt file in
// Windows-1252 or ISO-8859-2, a mail body without a charset, an options file
// written when the program stored Windows-1252.
#pragma once

#include <string>
#include <string_view>

namespace qf {

// Windows-1252 to UTF-8 (bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D, undefined
// there, keep their C1 code points).
std::string FromWindows1252(std::string_view bytes);

// The bytes as they are when they are valid UTF-8, else read as Windows-1252.
std::string Utf8OrWindows1252(std::string_view bytes);

// The bytes as they are when they are valid UTF-8 (a byte-order mark
// dropped); otherwise decoded from the encoding the bytes look like (charset
// detection), with Windows-1252 when none is recognised or the bytes do not
// convert.  ISO-8859-1 is read as its superset Windows-1252, as browsers do.
std::string LegacyTextToUtf8(std::string_view bytes);

// The encoding detection picks for `bytes` ("WINDOWS-1252", "ISO-8859-2",
// "UTF-8", ...), or "" when it recognises none.
std::string DetectEncoding(std::string_view bytes);

} // namespace qf
