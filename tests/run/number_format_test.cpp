#include "common/error.h"
#include "settings/number_format.h"

#include <climits>
#include <cstdio>
#include <gtest/gtest.h>

namespace qf {
namespace {

// The everyday formats are tested with the settings; these are the limits of
// the number range.
TEST(FormatFileNumber, TheEndsOfTheNumberRange) {
    const struct {
        const char* format;
        std::int32_t number;
        const char* expected;
    } cases[] = {
        {"%d", INT_MIN, "-2147483648"},
        {"%d", 2147483646, "2147483646"},
        {"%u", -1, "4294967295"},
        {"%.0d", 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatFileNumber(c.format, c.number), c.expected) << c.format;
    }
}

// Flags, widths and precisions behave as the C library's printf does.
TEST(FormatFileNumber, AgreesWithPrintf) {
    const char* flags[] = {"", "-", "+", " ", "#", "0", "-0", "+0", "#0", "- "};
    const char* widths[] = {"", "1", "6"};
    const char* precisions[] = {"", ".", ".0", ".3", ".8"};
    const char conversions[] = {'d', 'i', 'u', 'x', 'X', 'o'};
    const std::int32_t numbers[] = {0, 1, -1, 255, -4096, 123456, INT_MAX - 1, INT_MIN};
    for (auto f : flags) {
        for (auto w : widths) {
            for (auto p : precisions) {
                for (char c : conversions) {
                    const std::string format = std::string("<%") + f + w + p + c + ">";
                    for (auto n : numbers) {
                        char expected[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
                        std::snprintf(expected, sizeof expected, format.c_str(), n);
#pragma GCC diagnostic pop
                        ASSERT_EQ(FormatFileNumber(format, n), expected) << format << " with " << n;
                    }
                }
            }
        }
    }
}

// Beyond the refusals tested with the settings.
TEST(FormatFileNumber, MoreFormatsThatDoNotFitOneIntegerFail) {
    for (const char* format : {"%.*d", "%5"}) {
        try {
            FormatFileNumber(format, 1);
            ADD_FAILURE() << format << " was accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.what(),
                      "Format '" + std::string(format) + "' invalid or incompatible with argument");
        }
    }
}

} // namespace
} // namespace qf
