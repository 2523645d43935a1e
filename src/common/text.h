// Text encodings.  The platform's 8-bit code page is UTF-8; "wide" text is
// UTF-16 (little-endian when written to files).
#pragma once

#include <string>
#include <string_view>

namespace qf {

// UTF-8 to UTF-16.  Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// Appends one code point to UTF-16 text: a surrogate pair above U+FFFF.
void AppendCodePoint(std::u16string& out, char32_t cp);
// UTF-16 to UTF-8.  Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// Case-insensitive comparison of ASCII letters (the rest compares exactly).
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view s);

} // namespace qf
