#include "app/desktop/cmdline/wizard_commands.h"

#include "app/desktop/cmdline/uninstall.h"
#include "platform/channel/execute_text.h"
#include "recording_run_window.h"
#include "sample_mailbox.h"
#include "scripted_dialogs.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace qf::desktop {
namespace {

using testing::RecordingRunWindow;
using testing::SampleMailbox;
using testing::ScriptedDialogs;

class WizardCommandsTest : public ::testing::Test {
protected:
    WizardCommandsTest() : ui_(MakeQtUiThread()) {
        model_ = std::make_unique<WizardModel>(dialogs_, *ui_, reg_);
        model_->Create();
        model_->AfterCreate();
        model_->runWindowFactory = [this] {
            auto w = std::make_unique<RecordingRunWindow>(holdRuns_);
            window_ = w.get();
            return w;
        };
    }
    // An options file that runs over the sample mailbox from `first`.
    std::string RunnableOptionsFile(const std::string& name, int first) {
        Settings s = model_->Form();
        s.directory = box_.TextFolder();
        s.manualFolder = box_.ManualFolder();
        s.includeAttachments = false;
        s.emailsTo = Settings::kLeaveEmails;
        s.filterFilename.clear();
        s.firstNumber = first;
        const std::string path = (box_.Root() / name).string();
        s.SaveToFile(path);
        return path;
    }
    CommandLineResult Process(const std::vector<std::string>& params) {
        WizardCommandTarget target(*model_, dialogs_, [this] {
            ++uninstalls_;
            return std::vector<std::string>{"the settings"};
        });
        return CommandLineProcessor(target).Process(params);
    }

    registry::MemoryRegistry reg_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<UiThread> ui_;
    std::unique_ptr<WizardModel> model_;
    SampleMailbox box_;
    bool holdRuns_ = false;
    RecordingRunWindow* window_ = nullptr;
    int uninstalls_ = 0;
};

TEST_F(WizardCommandsTest, OpenUpdateCountGoQuitRunsAndSavesTheNextNumber) {
    const std::string file = RunnableOptionsFile("daily.qfo", 3);
    const auto result = Process({"/F=" + file, "/UPDATECOUNT", "/G", "/Q"});
    EXPECT_TRUE(dialogs_.errors.empty()) << dialogs_.errors.front();
    EXPECT_TRUE(result.completed);
    EXPECT_TRUE(result.endRequested);
    ASSERT_EQ(model_->LastOutcome(), RunOutcome::Complete);
    const int count = box_.MessageCount();
    EXPECT_TRUE(std::filesystem::exists(box_.TextFolder() + "00003.txt"));
    Settings saved;
    saved.LoadFromFile(file);
    EXPECT_EQ(saved.firstNumber, 3 + count);

    // Without the flag the next run's number is shown but not saved; the
    // flag never outlives the command line.
    Process({"/G"});
    saved.LoadFromFile(file);
    EXPECT_EQ(saved.firstNumber, 3 + count);
    EXPECT_EQ(model_->Form().firstNumber, 3 + 2 * count); // the emails were left in place
}

TEST_F(WizardCommandsTest, AGoThatCannotValidateStopsTheCommandLine) {
    model_->Edit([](Settings& s) { s.directory.clear(); });
    const auto result = Process({"/G", "/Q"});
    ASSERT_EQ(dialogs_.errors.size(), 1u);
    EXPECT_EQ(dialogs_.errors[0], "The folder to save resumes to is blank");
    EXPECT_FALSE(result.completed);
    EXPECT_FALSE(result.endRequested);
}

TEST_F(WizardCommandsTest, AMissingOptionsFileStopsTheCommandLine) {
    const auto result = Process({"/F=" + (box_.Root() / "none.qfo").string(), "/G"});
    EXPECT_EQ(dialogs_.errors.size(), 1u);
    EXPECT_FALSE(result.completed);
    EXPECT_FALSE(model_->LastOutcome().has_value()) << "Go after the failure never ran";
}

TEST_F(WizardCommandsTest, UninstallReportsWhatWasRemoved) {
    const auto result = Process({"/UNINSTALL"});
    EXPECT_EQ(uninstalls_, 1);
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_NE(dialogs_.messages[0].find("- the settings"), std::string::npos);
    EXPECT_TRUE(result.uninstalled);
}

TEST_F(WizardCommandsTest, AFileOpenFromAnotherInstanceOpensThatFile) {
    const std::string file = RunnableOptionsFile("a b.qfo", 0);
    HandleExecuteText(channel::FileOpenCommand(file), *model_, dialogs_);
    EXPECT_EQ(model_->Record().optionsFilePath, file);
    EXPECT_EQ(model_->Caption(), "a b.qfo - Quillfence Pro");
    EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(WizardCommandsTest, AnyOtherExecuteTextShowsTheInvalidMessage) {
    HandleExecuteText("[fileopen(\"/x.qfo\")]", *model_, dialogs_);
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.messages[0], "Invalid DDE message [fileopen(\"/x.qfo\")]\r\n");
    EXPECT_TRUE(model_->Record().optionsFilePath.empty());
}

TEST_F(WizardCommandsTest, AFileOpenDuringARunWaitsForTheRun) {
    const std::string first = RunnableOptionsFile("first.qfo", 0);
    const std::string later = RunnableOptionsFile("later.qfo", 40);
    ASSERT_TRUE(model_->OpenFile(first));
    holdRuns_ = true;
    ASSERT_TRUE(model_->Go());
    while (!window_->Shown()) {
        ui_->ProcessEvents(5);
    }
    HandleExecuteText(channel::FileOpenCommand(later), *model_, dialogs_);
    EXPECT_EQ(model_->Record().optionsFilePath, first);
    window_->Release();
    model_->WaitForRun();
    EXPECT_EQ(model_->Record().optionsFilePath, later);
    EXPECT_EQ(model_->Form().firstNumber, 40);
}

TEST(UninstallTest, RemovesOnlyThisProgramsKeyAndCache) {
    namespace fs = std::filesystem;
    registry::MemoryRegistry reg;
    ASSERT_TRUE(reg.CreateKey(std::string(kSettingsKey) + "\\main"));
    reg.SetValue(kSettingsKey, "language", registry::Value::String("English"));
    ASSERT_TRUE(reg.CreateKey("SOFTWARE\\Brindlemox\\Siftloom"));
    UserDataPlaces places;
    places.registryFile = "/home/ann/.config/Brindlemox/registry.reg";
    places.cacheFolder = (fs::temp_directory_path() / "qf-uninstall-cache").string();
    fs::create_directories(places.cacheFolder + "/profile-1");

    auto removed = RemoveUserData(reg, places);
    ASSERT_EQ(removed.size(), 2u);
    EXPECT_NE(removed[0].find(places.registryFile), std::string::npos);
    EXPECT_NE(removed[1].find(places.cacheFolder), std::string::npos);
    EXPECT_FALSE(reg.KeyExists(kSettingsKey));
    EXPECT_TRUE(reg.KeyExists("SOFTWARE\\Brindlemox\\Siftloom")) << "another program's key";
    EXPECT_FALSE(fs::exists(places.cacheFolder));
    EXPECT_NE(UninstallReport(removed).find("left as they are"), std::string::npos);

    // The shared company key goes once nothing else is in it; a second
    // removal finds nothing and says so.
    reg.DeleteKey("SOFTWARE\\Brindlemox\\Siftloom");
    reg.CreateKey(kSettingsKey);
    EXPECT_EQ(RemoveUserData(reg, places).size(), 1u);
    EXPECT_FALSE(reg.KeyExists("SOFTWARE\\Brindlemox"));
    EXPECT_TRUE(RemoveUserData(reg, places).empty());
    EXPECT_NE(UninstallReport({}).find("nothing stored"), std::string::npos);
}

} // namespace
} // namespace qf::desktop
