#include "i18n/tips.h"

#include "common/error.h"

#include <climits>
#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(Tips, EmptyLinesDropBlankLinesStay) {
    const TipBook book = TipBook::Parse("^First\r\n\r\n?Second\n!Third\r \r");
    ASSERT_EQ(book.Count(), 4);
    EXPECT_EQ(book.Line(1), "?Second");
    EXPECT_EQ(book.Line(3), " ");
    EXPECT_EQ(book.Line(4), "^First") << "wraps";
    EXPECT_TRUE(TipBook::Parse("\r\n\n").Empty());
    EXPECT_EQ(TipBook().Line(7), kNoTipsLine);
    EXPECT_TRUE(TipBook::Load("/nonexistent/TIPS.TXT").Empty());
}

TEST(Tips, HeadingsByMarker) {
    EXPECT_EQ(TipHeading('^'), "Today's tip...");
    EXPECT_EQ(TipHeading('?'), "Did you know...");
    EXPECT_EQ(TipHeading('\''), "Today's quote...");
    EXPECT_EQ(TipHeading('!'), "Today's joke...");
    EXPECT_EQ(TipHeading('#'), "Today's message...");
    EXPECT_EQ(TipHeading('x'), "");
}

TEST(Tips, IndexWrapsWithoutOverflowForEveryStoredValue) {
    EXPECT_EQ(WrapTipIndex(4, 3), 1);
    EXPECT_EQ(WrapTipIndex(-4, 3), 1);
    EXPECT_EQ(WrapTipIndex(INT_MAX, 3), INT_MAX % 3);
    // |INT_MIN| = 2147483648 = 3 * 715827882 + 2
    EXPECT_EQ(WrapTipIndex(INT_MIN, 3), 2);
    EXPECT_EQ(WrapTipIndex(INT_MIN, 7), static_cast<int>(2147483648LL % 7));
    EXPECT_EQ(StepTipIndex(0, -1, 3), 2);
    EXPECT_EQ(StepTipIndex(2, +1, 3), 0);
    EXPECT_EQ(StepTipIndex(INT_MIN, +1, 3), 0);
}

TEST(Tips, TextFormatsLineBreaksAndPercentSigns) {
    EXPECT_EQ(TipText("^Line one%sLine two"), u"Line one\nLine two");
    EXPECT_EQ(TipText("xHello 100%% sure"), u"Hello 100% sure");
    EXPECT_EQ(TipText("?%s%s%s%s%s"), u"\n\n\n\n\n");
    EXPECT_THROW(TipText("?%d files"), Error);
    EXPECT_THROW(TipText("?%s%s%s%s%s%s"), Error);
}

TEST(Tips, TextIsCutAt255Characters) {
    std::string line = "^";
    for (int i = 0; i < 300; ++i) {
        line += "\xC3\xA4"; // a-umlaut, two bytes
    }
    EXPECT_EQ(TipText(line).size(), 255u);
}

} // namespace
} // namespace qf
