// PDF attachments turned into text.  A PDF is read by Poppler in a helper
// process of its own (quillfence-pdftext), bounded by a deadline and a memory
// limit, so a hostile file can neither hang nor exhaust the run.  The run
// talks to this interface only; tests may put a fake in its place.
#pragma once

#include "common/error.h"

#include <string>

namespace qf::pdf {

// Why a PDF gave no text.  Each failure carries an English reason.
enum class PdfFailure {
    NeedsPassword, // encrypted with a password to open it
    Damaged,       // not a PDF, or too damaged to open
    NoText,        // opened, but no page has a text layer (a scan)
    Timeout,       // not read within the deadline; the helper was stopped
    TooLarge,      // needed more memory, or gave more text, than allowed
    ReaderFailed,  // the helper could not be started or stopped working
};

class PdfError : public qf::Error {
public:
    PdfError(PdfFailure failure, const std::string& reason)
        : qf::Error(reason), failure_(failure) {}
    PdfFailure failure() const { return failure_; }

private:
    PdfFailure failure_;
};

// The text of a PDF, UTF-8, pages separated by a form feed.
struct PdfText {
    std::string text;
    // The file ends early (cut off in transfer): the text is what could be
    // read, and more may have been there.
    bool incomplete = false;
};

class PdfReader {
public:
    virtual ~PdfReader() = default;
    // Reads the text of the PDF at `path`.  Throws PdfError.
    virtual PdfText Read(const std::string& path) = 0;
};

} // namespace qf::pdf
