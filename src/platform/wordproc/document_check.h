// Checks on what goes into and comes out of the word processor.  Attachments
// come from strangers: a file whose bytes do not fit its name can crash an
// office suite, and text that is mostly control characters is not a document.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qf::wordproc {

// Checks the leading bytes of `path` against the format its extension names
// (.doc/.dot: OLE2 compound file, also RTF or HTML as Word itself saves them;
// .docx/.docm/.dotx/.dotm: ZIP, or OLE2 when encrypted; .odt/.ott: ZIP; .rtf: "{\rtf";
// .htm/.html/.txt/.xml/ .fodt: text).  Returns an English reason when they do not fit, nothing when
// they do or when the extension names no format known here.
std::optional<std::string> CheckLeadingBytes(const std::string& path);

// What libmagic says the bytes are ("JPEG image data", "data", ...).
std::string DescribeBytes(std::string_view bytes);

// Characters of `utf8` that are not blank, and how many of them cannot be
// printed: control characters, private-use and non-characters, U+FFFD and
// bytes that are not UTF-8.
struct PrintableCount {
    std::size_t visible = 0;
    std::size_t unprintable = 0;
};
PrintableCount CountPrintable(std::string_view utf8);

// True when more than a quarter of the non-blank characters cannot be printed.
bool IsMostlyUnprintable(std::string_view utf8);

} // namespace qf::wordproc
