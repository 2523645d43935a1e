#include "common/text.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(Text, Utf8AndUtf16RoundTripAcrossAllPlanes) {
    const std::string s = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"; // A é € 😀 z
    const std::u16string w = Utf8ToUtf16(s);
    EXPECT_EQ(w, (std::u16string{u'A', 0x00E9, 0x20AC, 0xD83D, 0xDE00, u'z'}));
    EXPECT_EQ(Utf16ToUtf8(w), s);
}

TEST(Text, CodePointsAboveTheBasicPlaneBecomeSurrogatePairs) {
    std::u16string w;
    AppendCodePoint(w, U'A');
    AppendCodePoint(w, 0xFFFF);
    AppendCodePoint(w, 0x10000);
    AppendCodePoint(w, 0x1F600);
    AppendCodePoint(w, 0x10FFFF);
    EXPECT_EQ(w, (std::u16string{u'A', 0xFFFF, 0xD800, 0xDC00, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF}));
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");                             // truncated
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");                         // overlong "/"
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");                     // encoded surrogate
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx"); // lone surrogate
    EXPECT_FALSE(IsValidUtf8("caf\xE9"));
    EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9"));
    // Long ASCII runs are checked a word at a time: what follows them still counts.
    const std::string ascii(19, 'a');
    EXPECT_FALSE(IsValidUtf8(ascii + "\xE9"));
    EXPECT_FALSE(IsValidUtf8(ascii.substr(0, 8) + "\xE9" + ascii));
    EXPECT_FALSE(IsValidUtf8(ascii.substr(0, 7) + "\xC3"));
    EXPECT_TRUE(IsValidUtf8(ascii.substr(0, 7) + "\xC3\xA9" + ascii));
    EXPECT_TRUE(IsValidUtf8(ascii));
}

TEST(Text, AppendCodePointWritesSurrogatePairsAndReplacesNonCharacters) {
    std::u16string out;
    for (char32_t cp : {U'A', char32_t{0xE9}, char32_t{0xFFFF}, char32_t{0x10000},
                        char32_t{0x1F600}, char32_t{0x10FFFF}}) {
        AppendCodePoint(out, cp);
    }
    EXPECT_EQ(out, (std::u16string{u'A', 0x00E9, 0xFFFF, 0xD800, 0xDC00, 0xD83D, 0xDE00, 0xDBFF,
                                   0xDFFF}));
    out.clear();
    // A surrogate on its own or a value beyond Unicode is no character.
    for (char32_t cp :
         {char32_t{0xD800}, char32_t{0xDFFF}, char32_t{0x110000}, char32_t{0xFFFFFFFF}}) {
        AppendCodePoint(out, cp);
    }
    EXPECT_EQ(out, u"\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(Text, CaseInsensitiveComparisonIsAsciiOnly) {
    EXPECT_TRUE(EqualsNoCase(".DOC", ".doc"));
    EXPECT_FALSE(EqualsNoCase(".doc", ".docx"));
    EXPECT_EQ(ToLowerAscii("Software\\Brindlemox"), "software\\brindlemox");
}

} // namespace
} // namespace qf
