#include "common/error.h"
#include "common/fileio.h"
#include "common/installation.h"
#include "settings/settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

using testing_support::TempDir;

TEST(SettingsDefaultsTest, FirstStartHoldsTheDocumentedValues) {
    const std::string inst = InstallationFolder();
    const Settings s = Settings::FirstStartDefaults();
    const std::string stars(52, '*');
    EXPECT_EQ(s.filterFilename, inst + "Filters/preptext2.fll");
    EXPECT_EQ(s.directory, inst + "TextFiles/");
    EXPECT_EQ(s.manualFolder, inst + "Manual/");
    EXPECT_EQ(s.firstNumber, 0);
    EXPECT_EQ(s.fileNameFormat, "%5.5d.txt");
    EXPECT_EQ(s.startTag, "\r\n" + stars + "\r\nAttached file: %FILENAME\r\n");
    EXPECT_EQ(s.endTag, "\r\n" + stars + "\r\n");
    EXPECT_EQ(s.emailHeader, "From: %FROM\r\nSent: %SENT\r\nTo: %TO\r\nSubject: %SUBJECT\r\n");
    EXPECT_EQ(s.emailFooter, "");
    EXPECT_TRUE(s.includeAttachments);
    EXPECT_EQ(s.emailsTo, 0);
    EXPECT_EQ(s.emailsFrom, 0);
    EXPECT_FALSE(s.readStatus);
    EXPECT_EQ(s.tagText, "*QF* ");
    EXPECT_EQ(s.manualFormat, "%FROM_%NUMBER");
    EXPECT_EQ(s.extensions.size(), 19u);
    EXPECT_EQ(JoinLines(s.extensions), Settings::kDefaultExtensionsText);
    EXPECT_EQ(JoinLines(s.extensionActions), Settings::kDefaultActionsText);
    EXPECT_EQ(s.sourceFolder.folderId.Length(), 24u);
    EXPECT_TRUE(s.sourceFolder.folderId.IsBlank());
    EXPECT_EQ(s.profile, 0);
    EXPECT_EQ(s.profileName, "");
}

TEST(SettingsTest, RestoreDefaultExtensionsReplacesWhateverWasThere) {
    Settings s;
    s.extensions = {".a", ".b"};
    s.extensionActions = {"1"};
    s.RestoreDefaultExtensions();
    ASSERT_EQ(s.extensions.size(), 19u);
    ASSERT_EQ(s.extensionActions.size(), 19u);
    EXPECT_EQ(s.extensions.front(), ".doc");
    EXPECT_EQ(s.extensions.back(), ".vcf");
    EXPECT_EQ(s.extensionActions[5], "6");
    EXPECT_EQ(s.extensionActions[13], "4");
}

TEST(SettingsTest, ActionForExtensionTakesTheFirstMatchIgnoringCase) {
    Settings s;
    s.RestoreDefaultExtensions();
    EXPECT_EQ(s.ActionForExtension(".DOC"), 1);
    EXPECT_EQ(s.ActionForExtension(".docx"), 3);
    EXPECT_EQ(s.ActionForExtension(".Txt"), 6);
    EXPECT_EQ(s.ActionForExtension(".zip"), 2);
    EXPECT_EQ(s.ActionForExtension(""), 3);

    s.extensions = {".pdf", "", ".pdf"};
    s.extensionActions = {"5", "2", "1"};
    EXPECT_EQ(s.ActionForExtension(".PDF"), 5);
    EXPECT_EQ(s.ActionForExtension(""), 2) << "an empty entry matches a name without extension";
}

TEST(SettingsTest, ActionForExtensionNeverReadsPastTheShorterList) {
    Settings s;
    s.extensions = {".a", ".b", ".c"};
    s.extensionActions = {"1", "x1"};
    EXPECT_EQ(s.ActionForExtension(".a"), 1);
    try {
        s.ActionForExtension(".b");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'x1' is not a valid integer value");
    }
    try {
        s.ActionForExtension(".c"); // no action at all
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
    EXPECT_EQ(s.ActionForExtension(".d"), 3);
    s.extensionActions = {"99999999999"};
    EXPECT_THROW(s.ActionForExtension(".a"), Error);
}

TEST(SettingsTest, PathHelpers) {
    struct Case {
        const char* in;
        const char* stripped;
        const char* normalized;
    } cases[] = {
        {"\"/out/\"", "/out/", "/out/"},
        {"\"/out", "/out", "/out/"},
        {"/out\"", "/out", "/out/"},
        {"/out", "/out", "/out/"},
        {"\"", "", "/"},
        {"\"\"\"", "\"", "\"/"},
        {"", "", "/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Settings::StripQuotes(c.in), c.stripped) << c.in;
        EXPECT_EQ(Settings::NormalizeFolder(c.in), c.normalized) << c.in;
    }
}

TEST(SettingsTest, FilterToolFolderReadsRootDirWithoutCreatingTheKey) {
    registry::MemoryRegistry reg;
    EXPECT_EQ(Settings::FilterToolFolder(reg), "");
    EXPECT_FALSE(reg.KeyExists(kFilterToolKey));
    reg.CreateKey(kFilterToolKey);
    EXPECT_EQ(Settings::FilterToolFolder(reg), "");
    reg.SetValue(kFilterToolKey, "rootDir", registry::Value::String(""));
    EXPECT_EQ(Settings::FilterToolFolder(reg), "");
    reg.SetValue(kFilterToolKey, "ROOTDIR", registry::Value::String("/opt/siftloom"));
    EXPECT_EQ(Settings::FilterToolFolder(reg), "/opt/siftloom/");
}

// Validation runs against real folders and files in a temporary folder.
class ValidateTest : public ::testing::Test {
protected:
    void SetUp() override {
        registry_ = std::make_shared<registry::MemoryRegistry>();
        registry::SetCurrent(registry_);
        MakeDirectories(dir_ / "out");
        MakeDirectories(dir_ / "manual");
        s_ = Settings::FirstStartDefaults();
        s_.directory = dir_ / "out";
        s_.manualFolder = dir_ / "manual/";
        s_.filterFilename.clear();
        hooks_.askYesNo = [this](const std::string& q) {
            questions_.push_back(q);
            if (answers_.empty()) {
                ADD_FAILURE() << "unexpected question: " << q;
                return false;
            }
            bool a = answers_.front();
            answers_.erase(answers_.begin());
            return a;
        };
        hooks_.shellOpen = [this](const std::string& a) { opened_.push_back(a); };
    }
    void TearDown() override { registry::SetCurrent(nullptr); }

    std::string ErrorOf() {
        try {
            s_.Validate(hooks_);
        } catch (const Error& e) {
            return e.what();
        }
        return "";
    }
    void InstallFilterTool() {
        registry_->CreateKey(kFilterToolKey);
        registry_->SetValue(kFilterToolKey, "rootDir", registry::Value::String("/opt/siftloom/"));
    }

    TempDir dir_;
    std::shared_ptr<registry::MemoryRegistry> registry_;
    Settings s_;
    ValidationHooks hooks_;
    std::vector<bool> answers_;
    std::vector<std::string> questions_;
    std::vector<std::string> opened_;
};

TEST_F(ValidateTest, ChecksRunInOrderAndTheFirstFailureWins) {
    EXPECT_TRUE(s_.Validate(hooks_));

    // Each row breaks one more thing than the row below it, so each message
    // proves the checks before it passed and the ones after it did not run.
    struct Row {
        std::function<void(Settings&)> breakIt;
        std::string message;
    };
    const std::string missingFilter = dir_ / "none.fll";
    std::vector<Row> rows = {
        {[&](Settings& s) { s.filterFilename = missingFilter; },
         "The Siftloom Pro filter file " + missingFilter + " does not exist"},
        {[](Settings& s) {
             s.emailsTo = 2;
             s.tagText.clear();
         },
         "The tag text is blank"},
        {[](Settings& s) {
             s.emailsTo = 1;
             s.messageDestination.clear();
         },
         "The folder to move processed emails to is blank"},
        {[](Settings& s) {
             s.emailsFrom = 1;
             s.messageSource.clear();
         },
         "The folder to get emails from is blank"},
        {[](Settings& s) { s.manualFormat.clear(); }, "The manual filename format is blank"},
        {[&](Settings& s) { s.manualFolder = dir_ / "nowhere"; },
         "The manual folder does not exist"},
        {[](Settings& s) { s.manualFolder.clear(); }, "The manual folder is blank"},
        {[](Settings& s) { s.fileNameFormat.clear(); }, "The filename format is blank"},
        {[&](Settings& s) { s.directory = "\"" + dir_.path() + "/out\""; },
         "The folder to save resumes to does not exist"},
        {[](Settings& s) { s.directory.clear(); }, "The folder to save resumes to is blank"},
    };
    for (const auto& row : rows) {
        row.breakIt(s_);
        EXPECT_EQ(ErrorOf(), row.message);
    }
    EXPECT_TRUE(questions_.empty());
}

TEST_F(ValidateTest, TheFilterToolPageFollowsTheMakersSiteSetting) {
    s_.filterFilename = dir_ / "f.fll";
    WriteFileAtomic(s_.filterFilename, "filter");
    registry_->CreateKey(kSettingsKey);
    registry_->SetValue(kSettingsKey, "updateSite",
                        registry::Value::String("https://mirror.example.org/qf/"));
    answers_ = {true, true, true};
    EXPECT_TRUE(s_.Validate(hooks_));
    // Its own value wins over the site, the environment over both.
    registry_->SetValue(kSettingsKey, "filterToolPage",
                        registry::Value::String("https://tools.example.org/siftloom.html"));
    EXPECT_TRUE(s_.Validate(hooks_));
    ::setenv("QUILLFENCE_FILTER_TOOL_PAGE", "https://env.example.org/f", 1);
    EXPECT_TRUE(s_.Validate(hooks_));
    ::unsetenv("QUILLFENCE_FILTER_TOOL_PAGE");
    EXPECT_EQ(opened_, (std::vector<std::string>{"https://mirror.example.org/qf/siftloom",
                                                 "https://tools.example.org/siftloom.html",
                                                 "https://env.example.org/f"}));
}

TEST_F(ValidateTest, UnusedFolderNamesAndTagDoNotMatter) {
    s_.emailsTo = 0;
    s_.messageDestination.clear();
    s_.tagText.clear();
    s_.emailsFrom = 0;
    s_.messageSource.clear();
    EXPECT_TRUE(s_.Validate(hooks_));
}

TEST_F(ValidateTest, MissingFilterToolAsksAndOpensTheDownloadPageOnYes) {
    s_.filterFilename = dir_ / "f.fll";
    WriteFileAtomic(s_.filterFilename, "filter");
    answers_ = {true};
    EXPECT_TRUE(s_.Validate(hooks_));
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], "A Siftloom Pro filter file was specified, but Siftloom Pro is not "
                             "installed\r\nDownload it now?");
    // The maker's page, from the settings.
    EXPECT_EQ(opened_, std::vector<std::string>{"https://www.brindlemox.com/siftloom"});

    answers_ = {false};
    EXPECT_FALSE(s_.Validate(hooks_));

    InstallFilterTool();
    questions_.clear();
    EXPECT_TRUE(s_.Validate(hooks_));
    EXPECT_TRUE(questions_.empty());
}

TEST_F(ValidateTest, ExistingFirstOutputFileIsAskedEvenAfterANo) {
    s_.filterFilename = dir_ / "f.fll";
    WriteFileAtomic(s_.filterFilename, "filter");
    s_.firstNumber = 1;
    const std::string first = dir_.path() + "/out/00001.txt";
    WriteFileAtomic(first, "old");
    answers_ = {false, true};
    EXPECT_FALSE(s_.Validate(hooks_));
    ASSERT_EQ(questions_.size(), 2u);
    EXPECT_EQ(questions_[1], "The output file " + first + " already exists. Continue?");

    InstallFilterTool();
    answers_ = {false};
    EXPECT_FALSE(s_.Validate(hooks_));
    answers_ = {true};
    EXPECT_TRUE(s_.Validate(hooks_));

    s_.fileNameFormat = "%d.txt"; // "1.txt" does not exist
    EXPECT_TRUE(s_.Validate(hooks_));
}

TEST_F(ValidateTest, TheExistingFileAskedAboutIsTheOneTheRunWillWriteFirst) {
    s_.firstNumber = 3;
    const std::string out = dir_.path() + "/out/";
    WriteFileAtomic(out + "00003.txt", "written by an earlier run");
    std::optional<std::int32_t> recorded = 8;
    std::string askedFolder;
    hooks_.recordedNextNumber = [&](const std::string& folder) {
        askedFolder = folder;
        return recorded;
    };
    // The run continues at 8: 00003.txt is no question, 00008.txt would be.
    EXPECT_TRUE(s_.Validate(hooks_));
    EXPECT_TRUE(questions_.empty());
    EXPECT_EQ(askedFolder, out);
    WriteFileAtomic(out + "00008.txt", "also there");
    answers_ = {false};
    EXPECT_FALSE(s_.Validate(hooks_));
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], "The output file " + out + "00008.txt already exists. Continue?");
    // A recorded number below the first one, or none: the first one counts.
    for (const auto lower : {std::optional<std::int32_t>{2}, std::optional<std::int32_t>{}}) {
        recorded = lower;
        questions_.clear();
        answers_ = {true};
        EXPECT_TRUE(s_.Validate(hooks_));
        ASSERT_EQ(questions_.size(), 1u);
        EXPECT_EQ(questions_[0], "The output file " + out + "00003.txt already exists. Continue?");
    }
}

TEST_F(ValidateTest, AFormatTheNumberFormattingRefusesEndsValidation) {
    s_.fileNameFormat = "%FROM_%d.txt";
    EXPECT_EQ(ErrorOf(), "Format '%FROM_%d.txt' invalid or incompatible with argument");
    s_.fileNameFormat = "%s.txt";
    EXPECT_EQ(ErrorOf(), "Format '%s.txt' invalid or incompatible with argument");
}

} // namespace
} // namespace qf
