#include "i18n/walk_rules.h"

#include "i18n/loadstrings.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qf {
namespace {

namespace fs = std::filesystem;
using Items = std::vector<std::string>;

TEST(ItemRules, SplitAcceptsEveryLineEndAndDropsOnlyTheFinalBreak) {
    EXPECT_EQ(SplitItems("a\r\nb\rc\nd"), (Items{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitItems("a\r\n\r\nb\r\n"), (Items{"a", "", "b"}));
    EXPECT_TRUE(SplitItems("").empty());
    EXPECT_EQ(JoinItems({"x", "y"}), "x\r\ny\r\n");
}

TEST(ItemRules, ShorterComboTranslationIsCompletedRadioIsNot) {
    const Items current{"Do not sort", "Date received", "Subject line", "Subject", "From"};
    auto combo = TranslateItems(current, "Nicht sortieren\r\nEingangsdatum\r\n", true);
    ASSERT_TRUE(combo);
    EXPECT_EQ(*combo,
              (Items{"Nicht sortieren", "Eingangsdatum", "Subject line", "Subject", "From"}));
    auto radio = TranslateItems({"A", "B", "C"}, "Eins\r\n", false);
    ASSERT_TRUE(radio);
    EXPECT_EQ(*radio, Items{"Eins"});
}

TEST(ItemRules, EmptyValueEmptiesRadioButRestoresCombo) {
    EXPECT_EQ(*TranslateItems({"A", "B"}, "", false), Items{});
    EXPECT_EQ(*TranslateItems({"A", "B"}, "", true), (Items{"A", "B"}));
    EXPECT_FALSE(TranslateItems({"A", "B"}, "A\r\nB\r\n", true)) << "unchanged list";
}

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qf-walkrules-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(RecordingTest, OnlyTheEnglishFileRecordsMissingTexts) {
    StringLoader english((dir_ / "Languages/english.ini").string());
    RecordIfMissing(english, "TForm1", "OKBtn.Caption", "OK");
    RecordIfMissing(english, "TForm1", "OKBtn.Hint", "");
    RecordIfMissing(english, "TForm1", "OKBtn.Caption", "changed");
    EXPECT_EQ(english.Document().Serialize(), "[TForm1]\r\nOKBtn.Caption=OK\r\n\r\n");
    EXPECT_TRUE(fs::exists(dir_ / "Languages/english.ini"));

    StringLoader german((dir_ / "Languages/German.ini").string());
    RecordIfMissing(german, "TForm1", "OKBtn.Caption", "OK");
    EXPECT_TRUE(german.Document().Sections().empty());
    StringLoader none;
    EXPECT_FALSE(RecordsMissingTexts(none));
}

} // namespace
} // namespace qf
