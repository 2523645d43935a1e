// The clean-up of the text Poppler gives, and how pages are put together.
#include "platform/wordproc/pdf/pdf_text_format.h"

#include <gtest/gtest.h>

namespace qf::pdf {
namespace {

TEST(NormalizePdfText, LigaturesAreSpeltOutAndSoftHyphensRemoved) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"o\uFB00er \uFB01le \uFB02ow \uFB03ce ba\uFB04e", "offer file flow ffice baffle"},
        {"\uFB05\uFB06", "stst"},
        // Other characters of the same UTF-8 lead bytes stay.
        {"\uFB07\uFB10\uFF01", "\uFB07\uFB10\uFF01"},
        // A soft hyphen inside a line is only a place a word may break.
        {"co\u00ADoperate", "cooperate"},
        // At a line end it broke the word: the halves are joined again,
        // blanks around the break and a CR LF included.
        {"appli\u00AD\ncation form", "application form"},
        {"appli\u00AD  \r\n   cation", "application"},
        // Only one line break is bridged; a paragraph break stays.
        {"end\u00AD\n\nnext", "end\n\nnext"},
        {"last\u00AD", "last"},
        // Cut-off sequences at the end are left as they are.
        {"x\xEF\xAC", "x\xEF\xAC"},
        {"x\xC2", "x\xC2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NormalizePdfText(c.in), c.out) << c.in;
    }
}

TEST(JoinPages, PagesAreSeparatedByAFormFeedWithoutBlankEnds) {
    EXPECT_EQ(JoinPages({"One\n", "Two\n\n", "Three"}), "One\n\fTwo\n\fThree");
    // Blank pages before the first text go; a blank page inside stays a page.
    EXPECT_EQ(JoinPages({"\n", " \f", "One\n", "", "Three\n"}), "One\n\f\fThree");
    EXPECT_EQ(JoinPages({"One\n", "\n", "  \n"}), "One");
    EXPECT_EQ(JoinPages({}), "");
}

TEST(PdfTextChecks, BlankTextAndTheEndOfFileMarker) {
    EXPECT_TRUE(IsBlankText(" \n\f\t\r\v"));
    EXPECT_TRUE(IsBlankText(""));
    EXPECT_FALSE(IsBlankText("\f.\f"));

    EXPECT_TRUE(HasEndOfFileMarker("...\nstartxref\n123\n%%EOF\n"));
    EXPECT_TRUE(HasEndOfFileMarker("%%EOF" + std::string(1019, '\0')));
    // A marker further from the end than 1024 bytes belongs to an earlier
    // revision of a file that was cut short.
    EXPECT_FALSE(HasEndOfFileMarker("%%EOF" + std::string(1020, ' ')));
    EXPECT_FALSE(HasEndOfFileMarker("1 0 obj\n<< /Type /Catalog"));
}

} // namespace
} // namespace qf::pdf
