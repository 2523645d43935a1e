#include "common/csv.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(CsvFieldTest, QuotesOnlyWhatAReaderWouldOtherwiseSplitOrTrim) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"plain text", "plain text"},
        {"Müller, Anna", "\"Müller, Anna\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"carriage\rreturn", "\"carriage\rreturn\""},
        {" leading", "\" leading\""},
        {"trailing\t", "\"trailing\t\""},
        {"in between stays", "in between stays"},
        {"semicolon; tab\tinside", "semicolon; tab\tinside"},
        {"Ζωή 日本 😀", "Ζωή 日本 😀"},
        {"=1+1", "=1+1"},
        {"'quoted'", "'quoted'"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CsvField(c.in), c.out) << c.in;
    }
}

TEST(CsvFieldTest, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    // A Latin-1 "ü" and a cut-off three-byte sequence.
    EXPECT_EQ(CsvField("M\xFCller"), "M\xEF\xBF\xBDller");
    EXPECT_EQ(CsvField("end \xE2\x82"), "end \xEF\xBF\xBD");
    EXPECT_EQ(CsvField("a,\xFF"), "\"a,\xEF\xBF\xBD\"");
}

TEST(CsvRecordTest, FieldsAreJoinedByCommasAndEndWithCrLf) {
    EXPECT_EQ(CsvRecord({"a", "", "b,c", "d\"e", ""}), "a,,\"b,c\",\"d\"\"e\",\r\n");
    EXPECT_EQ(CsvRecord({"only"}), "only\r\n");
    EXPECT_EQ(CsvRecord({"x\ny", "z"}), "\"x\ny\",z\r\n");
}

} // namespace
} // namespace qf
