// Text decoding for MIME: charsets to UTF-8 and RFC 2047 encoded words, with the
// GMime 3.2.13 defects worked around:
//  - adjacent base64 encoded-words whose first ends in "=" padding lose the rest
//    of the header: such words are merged into one before decoding;
//  - a text part without charset comes back raw: valid UTF-8 is kept, anything
//    else is decoded from the encoding its bytes look like (Windows-1252 when
//    none is recognised).
#pragma once

#include <string>
#include <string_view>

namespace qf::mapi::mime {

// A header value decoded to one line of UTF-8 (control characters become spaces).
std::string DecodeHeaderText(std::string_view raw);
// Text in `charset` (null or empty: unlabelled) to UTF-8.  Unlabelled or Latin-1
// text that is valid UTF-8 is kept; unlabelled text, and text that does not
// convert from its label, is decoded from the encoding it looks like.
std::string ToUtf8(std::string_view bytes, const char* charset);

// Adjacent base64 encoded-words of one charset merged into one word, so that a
// word ending in "=" padding does not end the decoding of the header.
std::string MergeBase64Words(std::string_view text);

// Without leading and trailing white space and control characters.
std::string Trimmed(std::string_view s);
// Without line folding: CR and LF go, the white space after them stays.
std::string Unfold(std::string_view raw);

} // namespace qf::mapi::mime
