#include "app/batch/exit_code.h"
#include "app/batch/settings_text.h"
#include "common/fileio.h"
#include "i18n/escape.h"
#include "platform/registry/registry.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

namespace qf::batch {
namespace {

TEST(EscapeTextTest, UsesTheLanguageFileEscapes) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain text", "plain text"},
        {"a\r\nb\tc", "a\\r\\nb\\tc"},
        {"back\\slash", "back\\\\slash"},
        {"\a\b\v\f\x1b", "\\a\\b\\v\\f\\e"},
        {std::string("\0\x01\x1f", 3), "\\000\\001\\037"},
        {"\x7f", "\x7f"},
        {"Grüße \"q\" [x]", "Grüße \"q\" [x]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeText(c.in), c.out) << c.in;
    }
}

TEST(DescribeSettingsTest, OneFieldPerLine) {
    Settings s;
    s.startTag = "\r\n**\r\n";
    s.includeAttachments = true;
    s.sourceFolder.storeId.Assign({0xab, 0x01});
    s.extensions = {".a", ".b"};
    const std::string text = DescribeSettings(s);
    EXPECT_NE(text.find("\nstartTag = \\r\\n**\\r\\n\n"), std::string::npos);
    EXPECT_NE(text.find("\nincludeAttachments = true\n"), std::string::npos);
    EXPECT_NE(text.find("\ndescending = false\n"), std::string::npos);
    EXPECT_NE(text.find("\nsourceFolder.storeId = ab01" + std::string(44, '0') + "\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nextensions = .a\\r\\n.b\\r\\n\n"), std::string::npos);
    EXPECT_TRUE(text.starts_with("formatVersion = 0\n"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 33);
}

// The front end as a user runs it, with a registry of its own.
class BatchProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string& path = temp_.path();
        dir_ = path.substr(0, path.size() - 1); // without the final "/"
        exe_ = QF_BATCH_EXE;
        registry_ = dir_ + "/config/Brindlemox/registry.reg";
    }

    ExitCode Run(const std::string& args) {
        const std::string cmd = "QUILLFENCE_REGISTRY='" + registry_ + "' QUILLFENCE_HOME='" +
                                home_ + "' '" + exe_ + "' " + args + " >'" + dir_ + "/out' 2>'" +
                                dir_ + "/err'";
        const int status = std::system(cmd.c_str());
        out_ = ReadFileBytes(dir_ + "/out");
        err_ = ReadFileBytes(dir_ + "/err");
        return static_cast<ExitCode>(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }

    qf::testing::TempDir temp_;
    std::string dir_, exe_, registry_, out_, err_;
    std::string home_; // the installation folder; empty: the executable's
};

TEST_F(BatchProgramTest, ErrorsComeOutInTheLanguageTheRegistryNames) {
    home_ = dir_ + "/home/";
    std::filesystem::create_directories(home_ + "Languages");
    WriteFileAtomic(home_ + "Languages/Deutsch.ini",
                    "[global]\r\n8000=Der Ordner f\\374r Lebensl\\344ufe ist leer\r\n");
    {
        registry::FileRegistry reg(registry_);
        reg.CreateKey(kSettingsKey);
        reg.SetValue(kSettingsKey, "language", registry::Value::String("Deutsch"));
        reg.Flush();
    }
    Settings s = Settings::FirstStartDefaults();
    s.directory.clear();
    s.SaveToFile(dir_ + "/blank.qfo");

    EXPECT_EQ(Run("'" + dir_ + "/blank.qfo'"), ExitCode::Failed);
    EXPECT_EQ(err_, "quillfence-batch: Der Ordner f\xfcr Lebensl\xe4ufe ist leer\n");

    // A number the file does not hold keeps its English text.
    s.directory = dir_ + "/missing/";
    s.SaveToFile(dir_ + "/missing.qfo");
    EXPECT_EQ(Run("'" + dir_ + "/missing.qfo'"), ExitCode::Failed);
    EXPECT_EQ(err_, "quillfence-batch: The folder to save resumes to does not exist\n");
}

TEST_F(BatchProgramTest, TheFrontEndsOwnMessagesComeInTheUsersLanguage) {
    home_ = dir_ + "/home/";
    std::filesystem::create_directories(home_ + "Languages");
    std::filesystem::copy_file(std::string(std::getenv("QF_SOURCE_DIR")) + "/Languages/German.ini",
                               home_ + "Languages/German.ini");
    {
        registry::FileRegistry reg(registry_);
        reg.CreateKey(kSettingsKey);
        reg.SetValue(kSettingsKey, "language", registry::Value::String("German"));
        reg.Flush();
    }
    Settings s = Settings::FirstStartDefaults();
    s.directory = dir_ + "/texts/";
    s.manualFolder = dir_ + "/manual/";
    s.filterFilename.clear();
    s.firstNumber = 1;
    s.profile = Settings::kPromptProfile;
    std::filesystem::create_directories(s.directory);
    std::filesystem::create_directories(s.manualFolder);
    s.SaveToFile(dir_ + "/prompt.qfo");
    const std::string prompt =
        "Die Einstellungen verlangen, das Anmeldeprofil bei jedem Lauf auszuwählen (\"Prompt\"); "
        "das kann nur das Desktop-Programm. Wählen Sie für Läufe von der Befehlszeile das "
        "Standardprofil oder ein benanntes Profil.";

    EXPECT_EQ(Run("'" + dir_ + "/prompt.qfo'"), ExitCode::Failed);
    EXPECT_EQ(err_, "quillfence-batch: " + prompt + "\n");

    WriteFileAtomic(s.directory + "00001.txt", "earlier");
    EXPECT_EQ(Run("'" + dir_ + "/prompt.qfo'"), ExitCode::QuestionNeedsYes);
    EXPECT_TRUE(err_.ends_with(
        "\nEs wurde kein Lauf gestartet: Geben Sie --yes an, um mit Ja zu antworten.\n"))
        << err_;

    EXPECT_EQ(Run("--yes '" + dir_ + "/prompt.qfo'"), ExitCode::Failed);
    EXPECT_TRUE(out_.ends_with("\nMit Ja beantwortet (--yes).\n")) << out_;
    EXPECT_EQ(err_, "quillfence-batch: " + prompt + "\n");
}

TEST_F(BatchProgramTest, AnUnreadableLanguageFileIsNamedWithTheReason) {
    home_ = dir_ + "/home/";
    // A folder where the language file should be: it cannot be read as one.
    std::filesystem::create_directories(home_ + "Languages/Deutsch.ini");
    {
        registry::FileRegistry reg(registry_);
        reg.CreateKey(kSettingsKey);
        reg.SetValue(kSettingsKey, "language", registry::Value::String("Deutsch"));
        reg.Flush();
    }
    ASSERT_EQ(Run("--print-settings"), ExitCode::Complete);
    EXPECT_EQ(err_, "quillfence-batch: Warning: Cannot read file " + home_ +
                        "Languages/Deutsch.ini: Is a directory\n");
}

TEST_F(BatchProgramTest, PrintsFirstStartDefaultsOnAnEmptyRegistryWithoutWritingIt) {
    ASSERT_EQ(Run("--print-settings"), ExitCode::Complete) << err_;
    const std::string bin = std::filesystem::path(exe_).parent_path().string() + "/";
    EXPECT_NE(out_.find("\nDirectory = " + bin + "TextFiles/\n"), std::string::npos) << out_;
    EXPECT_NE(out_.find("\nmanualFolder = " + bin + "Manual/\n"), std::string::npos);
    EXPECT_NE(out_.find("\nfilterFilename = " + bin + "Filters/preptext2.fll\n"),
              std::string::npos);
    EXPECT_NE(out_.find("\nFileNameFormat = %5.5d.txt\n"), std::string::npos);
    EXPECT_NE(out_.find("\nincludeAttachments = true\n"), std::string::npos);
    EXPECT_NE(out_.find("\ntagText = *QF* \n"), std::string::npos);
    EXPECT_NE(out_.find("\npassword = \n"), std::string::npos); // none set: nothing masked
    EXPECT_NE(out_.find("\nsourceFolder.folderId = " + std::string(48, '0') + "\n"),
              std::string::npos);
    EXPECT_EQ(err_, "");
    EXPECT_FALSE(std::filesystem::exists(registry_));
}

TEST_F(BatchProgramTest, ReadsTheRegistryAsTheDesktopProgramDoes) {
    WriteFileAtomic(dir_ + "/reg.reg",
                    "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_CURRENT_USER\\Software\\Brindlemox\\Quillfence]\n"
                    "\"save folder\"=\"/srv/out/\"\n\"Include subject\"=dword:00000001\n"
                    "\"First number\"=dword:0000001f\n\"broken\"=dword:1\n");
    registry_ = dir_ + "/reg.reg";
    ASSERT_EQ(Run("--print-settings"), ExitCode::Complete);
    EXPECT_NE(out_.find("\nDirectory = /srv/out/\n"), std::string::npos);
    EXPECT_NE(out_.find("\nfirstNumber = 31\n"), std::string::npos);
    EXPECT_NE(out_.find("\nemailHeader = %SUBJECT\\r\\n\\r\\nFrom: %FROM"), std::string::npos);
    EXPECT_NE(err_.find("line 7: "), std::string::npos) << err_;
}

TEST_F(BatchProgramTest, SaveAsWritesTheSameBytesItReads) {
    Settings s = Settings::FirstStartDefaults();
    s.password = "secret";
    s.destinationFolder.folderId.SetLength(50);
    s.destinationFolder.folderId.Bytes()[49] = 0xfe;
    s.SaveToFile(dir_ + "/in.qfo");

    ASSERT_EQ(Run("--save-as " + dir_ + "/out.qfo " + dir_ + "/in.qfo"), ExitCode::Complete)
        << err_;
    EXPECT_EQ(ReadFileBytes(dir_ + "/out.qfo"), ReadFileBytes(dir_ + "/in.qfo"));
    struct stat st {};
    ASSERT_EQ(::stat((dir_ + "/out.qfo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ASSERT_EQ(Run("--print-settings " + dir_ + "/out.qfo"), ExitCode::Complete);
    EXPECT_TRUE(out_.starts_with("formatVersion = 17\noptionsFilePath = " + dir_ + "/out.qfo\n"));
    // The password is masked on screen; the copy above kept it (same bytes).
    EXPECT_NE(out_.find("\npassword = ********\n"), std::string::npos);
    EXPECT_EQ(out_.find("secret"), std::string::npos);
    EXPECT_NE(out_.find("fe\n"), std::string::npos);
    Settings copy;
    copy.LoadFromFile(dir_ + "/out.qfo");
    EXPECT_EQ(copy.password, "secret");

    ASSERT_EQ(Run("--save-as " + dir_ + "/fromreg.qfo"), ExitCode::Complete);
    Settings back;
    back.LoadFromFile(dir_ + "/fromreg.qfo");
    EXPECT_EQ(back.fileNameFormat, "%5.5d.txt");
}

TEST_F(BatchProgramTest, ExitCodesAndErrorTexts) {
    WriteFileAtomic(dir_ + "/cut.qfo", Settings::FirstStartDefaults().SaveToBytes().substr(0, 60));
    EXPECT_EQ(Run("--print-settings " + dir_ + "/cut.qfo"), ExitCode::Failed);
    EXPECT_EQ(err_, "quillfence-batch: Error reading TSettings.TSettings: Stream read error: "
                    "the options file " +
                        dir_ + "/cut.qfo is damaged\n");
    EXPECT_EQ(out_, "");
    EXPECT_EQ(Run("--print-settings " + dir_ + "/none.qfo"), ExitCode::Failed);
    EXPECT_EQ(err_, "quillfence-batch: Cannot open file " + dir_ +
                        "/none.qfo: No such file or directory\n");
    WriteFileAtomic(dir_ + "/empty.qfo", "");
    EXPECT_EQ(Run("--print-settings " + dir_ + "/empty.qfo"), ExitCode::Failed);
    EXPECT_EQ(err_, "quillfence-batch: Invalid stream format: the options file " + dir_ +
                        "/empty.qfo is empty\n");
    EXPECT_EQ(Run("--save-as " + dir_ + "/no/such/dir/x.qfo"), ExitCode::Failed);
    EXPECT_NE(err_.find("Cannot create file"), std::string::npos) << err_;

    EXPECT_EQ(Run("--update-count"), ExitCode::Usage); // saving the count needs an options file
    EXPECT_EQ(Run("--bogus"), ExitCode::Usage);
    EXPECT_EQ(Run("--print-settings a b"), ExitCode::Usage);
    EXPECT_EQ(Run("--save-as"), ExitCode::Usage);
    EXPECT_EQ(Run("--print-settings --save-as x"), ExitCode::Usage);

    EXPECT_EQ(Run("--version"), ExitCode::Complete);
    EXPECT_EQ(out_, "Quillfence Pro 3.2\n");
    EXPECT_EQ(Run("--help"), ExitCode::Complete);
    EXPECT_NE(out_.find("--print-settings"), std::string::npos);
    EXPECT_NE(out_.find(kExitCodeSummary), std::string::npos) << out_;
}

TEST_F(BatchProgramTest, APromptedProfileIsRefusedBeforeAnythingRuns) {
    Settings s = Settings::FirstStartDefaults();
    s.directory = dir_ + "/";
    s.manualFolder = dir_ + "/";
    s.filterFilename.clear();
    s.firstNumber = 1;
    s.profile = Settings::kPromptProfile;
    s.SaveToFile(dir_ + "/prompt.qfo");
    EXPECT_EQ(Run("'" + dir_ + "/prompt.qfo'"), ExitCode::Failed);
    EXPECT_NE(err_.find("(\"Prompt\")"), std::string::npos) << err_;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/00000.txt"));
}

} // namespace
} // namespace qf::batch
