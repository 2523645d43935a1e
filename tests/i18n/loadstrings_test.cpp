#include "i18n/loadstrings.h"

#include "common/fileio.h"
#include "i18n/escape.h"
#include "i18n/translate.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qf {
namespace {

namespace fs = std::filesystem;

class StringLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("qf-i18n-" + std::to_string(::getpid()) + "-" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        home_ = dir_.string() + "/";
    }
    void TearDown() override {
        SetStringLoader(nullptr);
        std::error_code ec;
        fs::permissions(dir_ / "Languages", fs::perms::owner_all, ec);
        fs::remove_all(dir_);
    }
    std::string LanguageFile(const std::string& name = "English") const {
        return home_ + "Languages/" + name + ".ini";
    }
    void WriteLanguage(const std::string& bytes, const std::string& name = "English") const {
        fs::create_directories(dir_ / "Languages");
        std::ofstream(LanguageFile(name), std::ios::binary) << bytes;
    }

    fs::path dir_;
    std::string home_;
};

TEST_F(StringLoaderTest, NothingInstalledPassesDefaultsThrough) {
    SetStringLoader(nullptr);
    EXPECT_TRUE(GetStringLoader().PassThrough());
    EXPECT_EQ(TranslateMsg(8030, "The tag text is blank"), "The tag text is blank");
    StringLoader noFile("");
    EXPECT_TRUE(noFile.PassThrough());
    EXPECT_FALSE(noFile.Recording());
}

TEST_F(StringLoaderTest, InstalledFileTranslatesLanguageTexts) {
    WriteLanguage("[GLOBAL]\r\n8030=Der Tag-Text ist leer\r\n8430=\r\n"
                  "8040=Datei\\t%s\r\n8000=\\400\r\n");
    InstallLanguage("English", home_);
    EXPECT_FALSE(GetStringLoader().PassThrough());
    EXPECT_EQ(TranslateMsg(8030, "The tag text is blank"), "Der Tag-Text ist leer");
    EXPECT_EQ(TranslateMsg(8430, "Save current settings?"), ""); // present, empty
    EXPECT_EQ(TranslateMsg(8031, "not in the file"), "not in the file");
    EXPECT_EQ(TranslateMsg(8040, ""), "Datei\t%s");
    EXPECT_EQ(TranslateMsgW(8030, ""), u"Der Tag-Text ist leer");
    EXPECT_THROW(TranslateMsg(8000, "The folder to save resumes to is blank"), EscapeError);
}

TEST_F(StringLoaderTest, MissingFileIsCreatedByTheFirstRecording) {
    InstallLanguage("English", home_);
    auto& loader = GetStringLoader();
    EXPECT_TRUE(fs::is_directory(dir_ / "Languages"));
    EXPECT_FALSE(fs::exists(LanguageFile()));
    EXPECT_EQ(TranslateMsg(8030, "The tag text is blank"), "The tag text is blank");
    loader.WriteEntry("TfileTypesForm", "Grid.col_1.row_0", "Type");
    loader.WriteEntry("TfileTypesForm", "Grid.col_2.row_0", "Action");
    loader.WriteEntry("TTstatusForm", "Exceptions.col_1.row_0",
                      "Emails requiring manual intervention");
    EXPECT_EQ(ReadFileBytes(LanguageFile()),
              "[TfileTypesForm]\r\nGrid.col_1.row_0=Type\r\nGrid.col_2.row_0=Action\r\n\r\n"
              "[TTstatusForm]\r\nExceptions.col_1.row_0=Emails requiring manual intervention\r\n"
              "\r\n");
    EXPECT_EQ(loader.Translation("tfiletypesform", "grid.col_2.row_0"), "Action");
}

TEST_F(StringLoaderTest, RecordingKeepsCommentsAndEscapes) {
    WriteLanguage("; Deutsch\n[TForm1]\n; keep me\nOKBtn.Caption=OK\n[global]\n8030=leer\n");
    StringLoader loader(LanguageFile());
    loader.WriteEntry("TForm1", "sortOrder.items", "Datum\r\nBetreff\\x\r\n");
    EXPECT_EQ(ReadFileBytes(LanguageFile()),
              "; Deutsch\r\n\r\n[TForm1]\r\n; keep me\r\nOKBtn.Caption=OK\r\n"
              "sortOrder.items=Datum\\r\\nBetreff\\\\x\\r\\n\r\n\r\n[global]\r\n8030=leer\r\n\r\n");
    EXPECT_EQ(loader.Translation("TForm1", "sortOrder.items"), "Datum\r\nBetreff\\x\r\n");
}

// The language file lies beside a folder the program may not write: its
// translations keep working, a recording fails without a word and stops
// later recordings, and the file is left as it was.
std::unique_ptr<StringLoader> ExpectFailedRecordingKeepsTranslations(const std::string& file) {
    auto owned = std::make_unique<StringLoader>(file);
    StringLoader& loader = *owned;
    EXPECT_FALSE(loader.PassThrough());
    const std::string before = ReadFileBytes(file);
    loader.WriteEntry("TfileTypesForm", "Grid.col_1.row_0", "Type");
    EXPECT_FALSE(loader.Recording());
    EXPECT_FALSE(loader.PassThrough());
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_EQ(loader.Translation("TfileTypesForm", "Grid.col_1.row_0"), std::nullopt);
    EXPECT_EQ(loader.Translation("global", "8030"), "leer");
    return owned;
}

TEST_F(StringLoaderTest, ReadOnlyFolderStopsRecordingOnly) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores folder permissions";
    }
    WriteLanguage("[global]\r\n8030=leer\r\n");
    fs::permissions(dir_ / "Languages", fs::perms::owner_read | fs::perms::owner_exec);
    auto loader = ExpectFailedRecordingKeepsTranslations(LanguageFile());
    // Even once the folder is writable again, the loader records nothing more.
    fs::permissions(dir_ / "Languages", fs::perms::owner_all);
    loader->WriteEntry("TfileTypesForm", "Grid.col_1.row_0", "Type");
    EXPECT_EQ(ReadFileBytes(LanguageFile()), "[global]\r\n8030=leer\r\n");
}

TEST_F(StringLoaderTest, UnwritableNameStopsRecordingOnly) {
    // A path the system still opens, while the path of the temporary file
    // beside it is longer than any path may be: a write failure that root
    // meets as well.
    const std::size_t wanted = PATH_MAX - 12;
    std::string name;
    while (LanguageFile(name).size() + 200 < wanted) {
        name += std::string(199, 'd') + "/";
    }
    name += std::string(wanted - LanguageFile(name).size(), 'L');
    ASSERT_EQ(LanguageFile(name).size(), wanted);
    fs::create_directories(fs::path(LanguageFile(name)).parent_path());
    WriteLanguage("[global]\r\n8030=leer\r\n", name);
    ExpectFailedRecordingKeepsTranslations(LanguageFile(name));
}

TEST_F(StringLoaderTest, FolderThatCannotBeCreatedGoesUnnoticed) {
    WriteFileAtomic(home_ + "Languages", "a file where the folder should be");
    InstallLanguage("English", home_);
    auto& loader = GetStringLoader();
    EXPECT_EQ(TranslateMsg(8030, "The tag text is blank"), "The tag text is blank");
    loader.WriteEntry("TfileTypesForm", "Grid.col_1.row_0", "Type");
    EXPECT_FALSE(loader.Recording());
    EXPECT_EQ(TranslateMsg(8030, "The tag text is blank"), "The tag text is blank");
    EXPECT_TRUE(fs::is_regular_file(dir_ / "Languages"));
}

TEST_F(StringLoaderTest, UnreadableFileMakesItPassThrough) {
    fs::create_directories(dir_ / "Languages" / "English.ini");
    StringLoader loader(LanguageFile());
    EXPECT_TRUE(loader.PassThrough());
    loader.WriteEntry("TfileTypesForm", "Grid.col_1.row_0", "Type");
    EXPECT_TRUE(fs::is_directory(dir_ / "Languages" / "English.ini"));
}

TEST_F(StringLoaderTest, LanguageNameNeverLeavesTheLanguagesFolder) {
    EXPECT_EQ(LanguageFilePath("Deutsch", "/opt/qf/"), "/opt/qf/Languages/Deutsch.ini");
    EXPECT_EQ(LanguageFilePath("Deutsch", "/opt/qf"), "/opt/qf/Languages/Deutsch.ini");
    EXPECT_EQ(LanguageFilePath("../../etc/x", "/opt/qf/"), "");
    EXPECT_EQ(LanguageFilePath("", "/opt/qf/"), "");
    EXPECT_EQ(LanguageFilePath(std::string_view("a\0b", 3), "/opt/qf/"), "");
    InstallLanguage("../outside", home_);
    EXPECT_TRUE(GetStringLoader().PassThrough());
    EXPECT_FALSE(fs::exists(dir_ / "Languages"));
}

} // namespace
} // namespace qf
