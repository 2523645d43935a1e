#include "common/error.h"
#include "settings/number_format.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(FormatFileNumberTest, AcceptsOneIntegerConversion) {
    struct Case {
        const char* format;
        std::int32_t number;
        const char* expected;
    } cases[] = {
        {"%5.5d.txt", 1, "00001.txt"},
        {"%d.txt", 1, "1.txt"},
        {"%d.txt", 7, "7.txt"},
        {"%3.3d.asc", 1, "001.asc"},
        {"%5.5d.txt", 123456, "123456.txt"},
        {"%05d", 42, "00042"},
        {"%-4d|", 5, "5   |"},
        {"%+d", 5, "+5"},
        {"%x", 255, "ff"},
        {"%X", 255, "FF"},
        {"%o", 8, "10"},
        {"%u", 3, "3"},
        {"%i", -3, "-3"},
        {"fixed.txt", 9, "fixed.txt"},
        {"100%%_%d", 2, "100%_2"},
        {"%%d", 2, "%d"},
        {"", 2, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatFileNumber(c.format, c.number), c.expected) << c.format;
    }
}

TEST(FormatFileNumberTest, RefusesEverythingElseWithTheFormatError) {
    for (const char* format :
         {"%s.txt", "%f", "%d%d", "%d_%x", "%*d", "%ld", "%lld", "%", "abc%", "%5.", "%.d%",
          "%FROM_%d.txt", "%n", "%p", "%c", "%1000d", "%.99999999d", "%5.5"}) {
        try {
            FormatFileNumber(format, 1);
            ADD_FAILURE() << format;
        } catch (const Error& e) {
            EXPECT_EQ(e.what(),
                      "Format '" + std::string(format) + "' invalid or incompatible with argument");
        }
    }
}

} // namespace
} // namespace qf
