// The PDF reader of the run: quillfence-pdftext started once per document,
// its standard output in an anonymous memory file, stopped with its whole
// process group at the deadline.
#pragma once

#include "platform/wordproc/pdf/pdf_reader.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace qf::pdf {

struct PdfTextOptions {
    // The helper program; empty: quillfence-pdftext in the installation folder.
    std::string program;
    // Longest time for one document.
    std::chrono::milliseconds deadline{std::chrono::seconds(60)};
    // The helper's address space, and the most text one PDF may give.
    std::size_t memoryMb = 1024;
    std::size_t maxTextMb = 64;

    // Defaults, with QUILLFENCE_OFFICE_DEADLINE (seconds) as the deadline:
    // one per-document deadline for every kind of document.
    static PdfTextOptions FromEnvironment();
};

class PdfTextProcess final : public PdfReader {
public:
    explicit PdfTextProcess(PdfTextOptions options = PdfTextOptions::FromEnvironment());
    PdfText Read(const std::string& path) override;

    const PdfTextOptions& Options() const { return options_; }

private:
    PdfTextOptions options_;
};

} // namespace qf::pdf
