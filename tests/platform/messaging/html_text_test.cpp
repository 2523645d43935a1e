// The plain text of HTML-only mail: what a reader sees, as mail clients show
// HTML in plain text, also from documents that browsers repair.
#include "platform/messaging/mime/html_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qf::mapi::mime {
namespace {

TEST(HtmlToText, ElementsLeftOpenInTheHeadNeverSwallowTheBody) {
    // The body's first content ends a head without an end tag.
    EXPECT_EQ(HtmlToText("<html><head><meta charset=utf-8><title>Bewerbung</title>"
                         "<p>Sehr geehrte Damen und Herren,</p><p>anbei mein Lebenslauf.</p>"),
              "Sehr geehrte Damen und Herren,\n\nanbei mein Lebenslauf.");
    EXPECT_EQ(HtmlToText("<head><style>p { color: red }</style>Dear Sir,<br>my CV."),
              "Dear Sir,\nmy CV.");
    // Unclosed style, script and title hide the rest, as in a browser.
    EXPECT_EQ(HtmlToText("Hello<script>var x = '</p>';</script> there"), "Hello there");
    EXPECT_EQ(HtmlToText("<title>Only a title"), "");
    EXPECT_EQ(HtmlToText("text<style>body{}"), "text");
    EXPECT_EQ(HtmlToText("a<!-- comment <p>hidden</p> -->b"), "ab");
    EXPECT_EQ(HtmlToText("x <unclosed"), "x");
    EXPECT_EQ(HtmlToText(""), "");
}

TEST(HtmlToText, EveryNamedAndNumericReferenceIsDecoded) {
    EXPECT_EQ(HtmlToText("Mar&iacute;a Pe&ntilde;a, S&atilde;o Paulo &ndash; &euro;5 &hellip;"),
              "María Peña, São Paulo – €5 …");
    EXPECT_EQ(HtmlToText("&Scaron;koda &oelig; &alpha;&beta; &rarr; &frac12; &check;"),
              "Škoda œ αβ → ½ ✓");
    EXPECT_EQ(HtmlToText("x &#252; &#x1F600; &#x0; &bogus; AT&T"),
              "x ü 😀 \xEF\xBF\xBD &bogus; AT&T");
    // Legacy references without a semicolon, as browsers read them.
    EXPECT_EQ(HtmlToText("caf&eacute &copy 2026"), "café © 2026");
    // A no-break space is an ordinary space in text.
    EXPECT_EQ(HtmlToText("a&nbsp;&nbsp;b"), "a b");
}

TEST(HtmlToText, BlocksListsAndTablesKeepTheirLayout) {
    EXPECT_EQ(HtmlToText("<div>one</div><div>two</div><p>para</p>three"),
              "one\ntwo\n\npara\n\nthree");
    EXPECT_EQ(HtmlToText("<p>Line1<br>Line2<br><br>Line4</p>"), "Line1\nLine2\n\nLine4");
    EXPECT_EQ(HtmlToText("Skills:<ul><li>C++<li>SQL</ul>Languages:"
                         "<ol><li>German</li><li>English<ul><li>fluent</li></ul></li></ol>"),
              "Skills:\n\n* C++\n* SQL\n\nLanguages:\n\n1. German\n2. English\n\n  * fluent");
    EXPECT_EQ(HtmlToText("<ol start=\"4\"><li>four</li><li>five</li></ol>"), "4. four\n5. five");
    EXPECT_EQ(HtmlToText("<table><tr><th>Year</th><th>Post</th></tr>"
                         "<tr><td>2020</td><td>Engineer</td></tr><tr><td>2024</td></tr></table>"),
              "Year Post\n2020 Engineer\n2024");
    EXPECT_EQ(HtmlToText("<pre>  a  b\n    c</pre>after"), "  a  b\n    c\n\nafter");
    EXPECT_EQ(HtmlToText("<p>   lots\n\n   of\tspace   </p>"), "lots of space");
    EXPECT_EQ(HtmlToText("<img src=x.png alt=\"Logo\"> text"), "Logo text");
}

TEST(HtmlToText, LinksShowTheirAddressWhereItDiffersFromTheText) {
    EXPECT_EQ(HtmlToText("See <a href=\"https://example.org/cv\">my CV</a>."),
              "See my CV <https://example.org/cv>.");
    EXPECT_EQ(HtmlToText("<a href=\"https://example.org/\">https://example.org</a>"),
              "https://example.org");
    EXPECT_EQ(HtmlToText("<a href=\"mailto:anna@example.org\">anna@example.org</a>"),
              "anna@example.org");
    EXPECT_EQ(HtmlToText("<a href=\"#top\">Top</a> <a href=\"javascript:x()\">Go</a>"), "Top Go");
    EXPECT_EQ(HtmlToText("<a href=\"https://example.org/x\"></a>"), "https://example.org/x");
}

TEST(HtmlToText, DeeplyNestedMarkupIsReadWithoutExhaustingTheStack) {
    std::string html;
    for (int i = 0; i < 5000; ++i) {
        html += "<div><span>";
    }
    html += "deep";
    EXPECT_EQ(HtmlToText(html), "deep");
}

TEST(HtmlToText, TheReadmeExampleReadsAsShown) {
    EXPECT_EQ(HtmlToText("<html><head><title>Application</title><style>p{margin:0}</style>\n"
                         "<p>Dear Ms Berg,</p><p>please find my CV attached. In short:</p>\n"
                         "<ul><li>M.Sc. in computer science, Universidad de Le&oacute;n</li>\n"
                         "<li>5 years at <a href=\"https://example.org\">S&atilde;o Paulo "
                         "Systems</a></li></ul>\n"
                         "<table><tr><td>Phone</td><td>+49 30 1234567</td></tr></table>\n"),
              "Dear Ms Berg,\n\nplease find my CV attached. In short:\n\n"
              "* M.Sc. in computer science, Universidad de León\n"
              "* 5 years at São Paulo Systems <https://example.org>\n\nPhone +49 30 1234567");
}

TEST(HtmlToText, AnHtmlOnlyEmailFromRealMailReadsAsText) {
    const char* shared = std::getenv("QF_SHARED_DIR");
    const std::filesystem::path file = std::filesystem::path(shared ? shared : "../shared") /
                                       "corpus" / "real-world" / "error_emails" /
                                       "content_transfer_encoding_text-html.eml";
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        GTEST_SKIP() << "no corpus at " << file;
    }
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string all = bytes.str();
    const std::size_t start = all.find("Hello,<p>");
    const std::size_t end = all.find("----651790_269334.01570--");
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(HtmlToText(all.substr(start, end - start)),
              "Hello,\n\n"
              "You have qualified for the lowest rate in years.\n"
              "You could get over $400,000 for as little as $500 a month.\n"
              "Low rates are fixed no matter what.\n\n"
              "Please visit the link below to verify your information:\n"
              "Approval Form <http://www.lenxzc.com/index2.php?refid=malx>\n\n"
              "Best Regards,\n"
              "chianfong cuthbert, Account Manager\n"
              "Reynolds Associates, LLC\n\n"
              "--------------------\n"
              "if you received this in error: re-m0-ve <http://www.lenxzc.com/r.php>");
}

} // namespace
} // namespace qf::mapi::mime
