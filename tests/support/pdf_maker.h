// PDF files made by the tests, byte by byte: pages of text lines placed where
// a test wants them, pictures without text, and streams that inflate to
// whatever size a test needs.
//
// Text is drawn in Helvetica with Windows-1252 codes (é is "\xE9"), and these
// codes added for the ligature glyphs and the soft hyphen:
#pragma once

#include <string>
#include <vector>

namespace qf::testing {

inline constexpr const char* kPdfFf = "\x80";
inline constexpr const char* kPdfFi = "\x81";
inline constexpr const char* kPdfFl = "\x82";
inline constexpr const char* kPdfFfi = "\x83";
inline constexpr const char* kPdfFfl = "\x84";
inline constexpr const char* kPdfSoftHyphen = "\x85";

// One line of text: its left end and baseline in points from the page's
// lower left corner (the page is 612 by 792).
struct PdfLine {
    double x = 72;
    double y = 720;
    std::string text;
};

struct PdfPage {
    // Drawn in this order, which need not be the order a person reads them.
    std::vector<PdfLine> lines;
    // A grey picture covering most of the page (a scan has only this).
    bool picture = false;
    // The drawing compressed (Flate); the bytes the page draws are the same.
    bool compressed = false;
};

// A page with these lines only.
inline PdfPage TextPage(std::vector<PdfLine> lines) {
    PdfPage page;
    page.lines = std::move(lines);
    return page;
}

// A complete PDF with the pages in order.
std::string MakePdf(const std::vector<PdfPage>& pages);

// A PDF whose one page draws `repeats` short text lines from a compressed
// stream: a few kilobytes on disk, `repeats` times 40 bytes once inflated.
// With `text` false it draws nothing but saves and restores its graphics
// state instead: as much work to read, and no memory to keep.
std::string MakeInflatingPdf(long repeats, bool text = true);

// A PDF of `pages` pages that all draw the same line from one stream.
std::string MakeManyPagesPdf(int pages);

// A PDF whose page tree claims `claimedCount` pages and holds one.
std::string MakePdfClaimingPages(long claimedCount);

} // namespace qf::testing
