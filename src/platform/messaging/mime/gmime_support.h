// GMime plumbing shared by the MIME readers: the parser options every parse uses
// and small owning wrappers.  Only the files of this folder include it.
#pragma once

#include <gmime/gmime.h>

#include <memory>
#include <string>

namespace qf::mapi::mime {

// Initialises GMime on first use.  Fallback charsets: UTF-8, then Windows-1252.
GMimeParserOptions* ParserOptions();

struct GFree {
    void operator()(void* p) const { g_free(p); }
};
using GString = std::unique_ptr<char, GFree>;

// "type/subtype" in lower case ("text/plain" when the part has no content type).
std::string LowerTypeOf(GMimeObject* object);
// The decoded content of a leaf part (empty for anything else).
std::string DecodedBytes(GMimeObject* object);
// The object written out with LF or CR LF line ends.
std::string SerializeObject(GMimeObject* object, bool crlf);

} // namespace qf::mapi::mime
