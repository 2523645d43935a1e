#include "i18n/translate.h"

#include "common/error.h"
#include "common/fileio.h"
#include "i18n/format.h"
#include "i18n/loadstrings.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qf {
namespace {

namespace fs = std::filesystem;

TEST(FormatWide, FollowsThePrintfRules) {
    const struct {
        const char16_t* tmpl;
        FmtArg arg;
        const char16_t* text;
    } cases[] = {
        {u"The file %s exists", std::string("a\xc3\xa9.txt"), u"The file a\u00e9.txt exists"},
        {u"%d", std::int64_t{-42}, u"-42"},
        {u"[%5d]", std::int64_t{42}, u"[   42]"},
        {u"[%-5d]", std::int64_t{42}, u"[42   ]"},
        {u"[%05d]", std::int64_t{-42}, u"[-0042]"},
        {u"%5.5d.txt", std::int64_t{1}, u"00001.txt"},
        {u"%3.3d.asc", std::int64_t{1}, u"001.asc"},
        {u"%+d", std::int64_t{7}, u"+7"},
        {u"%x %%", std::int64_t{255}, u"ff %"},
        {u"%#X", std::int64_t{255}, u"0XFF"},
        {u"%u", std::int64_t{-1}, u"18446744073709551615"},
        {u"[%6.2s]", std::string("abc"), u"[    ab]"},
        {u"[%-4s]", std::string("ab"), u"[ab  ]"},
        {u"no placeholder", std::string("ignored"), u"no placeholder"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatWide(c.tmpl, {c.arg}), c.text);
    }
}

TEST(FormatWide, RejectsTemplatesThatDoNotFit) {
    const struct {
        const char16_t* tmpl;
        std::initializer_list<FmtArg> args;
    } cases[] = {
        {u"%d", {std::string("text")}},
        {u"%s", {std::int64_t{1}}},
        {u"%s and %s", {std::string("one")}},
        {u"100%", {}},
        {u"%q", {std::int64_t{1}}},
        {u"%5", {std::int64_t{1}}},
        {u"%99999999999999999999d", {std::int64_t{1}}},
    };
    for (const auto& c : cases) {
        EXPECT_THROW(FormatWide(c.tmpl, c.args), Error);
    }
}

class TranslateFmt : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qf-fmt-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "Languages");
        WriteFileAtomic((dir_ / "Languages" / "Deutsch.ini").string(),
                        "[global]\r\n"
                        "8040=Die Datei %s gibt es schon. Weiter?\r\n"
                        "8031=Filterdatei %d fehlt\r\n"
                        "8420=Falscher Parameter\\r\\n%s\\\r\n"
                        "8461=Beispiel: %s\\t(%5d)\r\n");
        InstallLanguage("Deutsch", dir_.string() + "/");
    }
    void TearDown() override {
        SetStringLoader(nullptr);
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(TranslateFmt, FormatsTheTranslatedTemplate) {
    EXPECT_EQ(TranslateFmtW(8040, u"The output file %s already exists. Continue?",
                            {std::string("/out/00001.txt")}),
              u"Die Datei /out/00001.txt gibt es schon. Weiter?");
    EXPECT_EQ(qf::TranslateFmt(8461, "Sample filename: %s", {std::string("a"), std::int64_t{7}}),
              "Beispiel: a\t(    7)");
}

TEST_F(TranslateFmt, FallsBackToTheEnglishTemplate) {
    // The translation asks for a number where the program gives a text.
    EXPECT_EQ(TranslateFmtW(8031, u"The Siftloom Pro filter file %s does not exist",
                            {std::string("f.flt")}),
              u"The Siftloom Pro filter file f.flt does not exist");
    // The translation ends in a lone backslash.
    EXPECT_EQ(TranslateFmtW(8420, u"Invalid command line parameter\r\n%s", {std::string("/X")}),
              u"Invalid command line parameter\r\n/X");
}

TEST_F(TranslateFmt, NamesTheNumberWhenNothingFits) {
    EXPECT_EQ(TranslateFmtW(8010, u"The folder %s is blank", {std::int64_t{3}}),
              u"WideFormatErr(8010):The folder %s is blank");
    // Neither the translation nor the English template takes a text.
    EXPECT_EQ(TranslateFmtW(8031, u"The Siftloom Pro filter file %d does not exist",
                            {std::string("f.flt")}),
              u"WideFormatErr(8031):The Siftloom Pro filter file %d does not exist");
    EXPECT_EQ(TranslateFmtW(1, u"%d%%", {}), u"WideFormatErr(1):%d%%");
}

} // namespace
} // namespace qf
