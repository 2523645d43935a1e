#include "i18n/escape.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(EscapeText, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int c = 0; c < 256; ++c) {
        const std::string one(1, static_cast<char>(c));
        const std::string escaped = EscapeText(one);
        EXPECT_EQ(escaped.find_first_of("\r\n"), std::string::npos) << c;
        EXPECT_EQ(UnescapeText(escaped), one) << c;
        all += one;
    }
    EXPECT_EQ(UnescapeText(EscapeText(all)), all);
}

TEST(EscapeText, WritesTheDocumentedForms) {
    EXPECT_EQ(EscapeText("\x01"), "\\001");
    EXPECT_EQ(EscapeText("\x1f"), "\\037");
    EXPECT_EQ(EscapeText(std::string(1, '\0')), "\\000");
    EXPECT_EQ(EscapeText("\t"), "\\t");
    EXPECT_EQ(EscapeText("\x1b"), "\\e");
    EXPECT_EQ(EscapeText("\\"), "\\\\");
    EXPECT_EQ(EscapeText("\xc8"), "\xc8");
    EXPECT_EQ(EscapeText("\a\b\n\v\f\r"), "\\a\\b\\n\\v\\f\\r");
    EXPECT_EQ(EscapeText("Type [x]; a=b"), "Type [x]; a=b");
}

TEST(UnescapeText, ReadsEscapes) {
    const struct {
        const char* value;
        std::string text;
    } cases[] = {
        {"Save\\tnow?", "Save\tnow?"},
        {"a\\qb", "a\\qb"}, // unknown escapes keep their backslash
        {"\\101", "A"},
        {"\\000x", std::string("\0x", 2)},
        {"\\377", "\xff"},
        {"\\\\n", "\\n"},
        {"\\e\\r\\n", "\x1b\r\n"},
        {"\\N", "\\N"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UnescapeText(c.value), c.text) << c.value;
    }
}

TEST(UnescapeText, ReportsEachMalformedEscape) {
    const struct {
        const char* value;
        const char* text;
    } cases[] = {
        {"\\400", "\\OOO Maximum octal value is \\377:"},
        {"x\\777y", "\\OOO Maximum octal value is \\377:"},
        {"\\18", "\\OOO You must specify all 3 octal digits (Leading zeros are required)"},
        {"\\0a1", "\\OOO You must specify all 3 octal digits (Leading zeros are required)"},
        {"\\1", "\\OOO Expecting 3 trailing octal digits"},
        {"ok \\12", "\\OOO Expecting 3 trailing octal digits"},
        {"ab\\", "Trailing \\ needs to be followed by another \\ or 3 Octal digits"},
        {"\\\\\\", "Trailing \\ needs to be followed by another \\ or 3 Octal digits"},
    };
    for (const auto& c : cases) {
        try {
            UnescapeText(c.value);
            ADD_FAILURE() << "no error for " << c.value;
        } catch (const EscapeError& e) {
            EXPECT_EQ(e.what(), std::string(c.text) + "\r\n\r\n" + c.value);
            EXPECT_EQ(e.HelpTopic(), 530);
        }
    }
}

} // namespace
} // namespace qf
