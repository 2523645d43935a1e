// Checks on what goes into and comes out of the word processor.  Attachments
// come from strangers: a file whose bytes do not fit its name can crash an
// office suite, and text that is mostly control characters is not a document.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qf::wordproc {

// Checks the leading bytes of `path` against its extension: a word-processor
// extension (.doc .docx .odt .rtf .html ...) takes any document container --
// OLE2 compound file, ZIP (Office Open XML, OpenDocument), RTF or text such as
// HTML -- since misnamed documents are common and the word processor detects
// the real format; .txt/.xml take text.  Returns an English reason when they do
// not fit, nothing when they do or when the extension names no format known here.
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
