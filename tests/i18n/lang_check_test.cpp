#include "i18n/lang_check.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(LanguageCheck, ReportsMissingEmptyStaleAndPlaceholderMismatches) {
    const LangDocument english = LangDocument::Parse("[TForm1]\r\nA.Caption=One\r\nB.Hint=Two\r\n"
                                                     "[global]\r\n8040=File %s exists, %d%%\r\n"
                                                     "8461=Sample: %s\r\n");
    const LangDocument german = LangDocument::Parse("[tform1]\r\na.caption=Eins\r\nC.Caption=X\r\n"
                                                    "[global]\r\n8040=Datei %d, %s\r\n8461=\r\n");
    const std::vector<std::string> expected{
        "[TForm1] B.Hint: missing",
        "[global] 8040: placeholders differ from the English text",
        "[global] 8461: empty",
        "[tform1] C.Caption: not in English.ini",
    };
    EXPECT_EQ(CheckTranslation(english, german), expected);
    EXPECT_TRUE(CheckTranslation(english, english).empty());
}

} // namespace
} // namespace qf
