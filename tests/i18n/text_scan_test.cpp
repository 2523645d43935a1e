#include "i18n/text_scan.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(TextScan, FindsEachCallWithJoinedLiteralsAndResolvedEscapes) {
    const char* source = R"src(
        throw Error(TranslateMsg(8000, "The folder is blank"));
        run_.SetStatus(TranslateFmt(8340, "Complete. %d emails "
                                          /* joined */ "processed", {n}));
        ask(TranslateFmtW(4440, u"You must exit %s\r\nnow \"really\"", {title}));
    )src";
    const std::vector<NumberedText> expected{
        {8000, "The folder is blank"},
        {8340, "Complete. %d emails processed"},
        {4440, "You must exit %s\r\nnow \"really\""},
    };
    EXPECT_EQ(ScanNumberedTexts(source), expected);
}

TEST(TextScan, SkipsCallsWithoutLiteralsAndOtherNames) {
    const char* source = R"src(
        std::string TranslateMsg(int number, std::string_view english);
        MyTranslateMsg(1, "no");
        TranslateMsg(kNumber, "no");
        TranslateMsg(12, text);
        TranslateMsgWide(13, "no");
    )src";
    EXPECT_TRUE(ScanNumberedTexts(source).empty());
}

TEST(TextScan, MergeKeepsTheFirstTextOfANumberAndSorts) {
    std::vector<NumberedText> texts{{8122, "first"}, {300, "a"}};
    MergeNumberedTexts(texts, {{8122, "second"}, {100, "b"}});
    const std::vector<NumberedText> expected{{100, "b"}, {300, "a"}, {8122, "first"}};
    EXPECT_EQ(texts, expected);
}

} // namespace
} // namespace qf
