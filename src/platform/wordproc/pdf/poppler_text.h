// The text of a PDF through Poppler, in this process: what the helper program
// quillfence-pdftext runs inside its limits.  Nothing else calls Poppler.
#pragma once

#include "platform/wordproc/pdf/pdf_text_format.h"

#include <cstddef>
#include <string>

namespace qf::pdf {

struct PopplerResult {
    HelperExit status = HelperExit::Damaged;
    // With Text and Incomplete: the pages' text, joined and normalised.
    std::string text;
};

// Reads every page in reading order (the order a person reads columns in,
// not the order the file draws the text or a picture of the page's
// layout).  A document that opens without a password (no encryption, or an
// owner password only) is read; text beyond `maxText` bytes gives TooLarge.
// Throws std::bad_alloc when memory runs out.
PopplerResult ReadWithPoppler(const std::string& path, std::size_t maxText);

} // namespace qf::pdf
