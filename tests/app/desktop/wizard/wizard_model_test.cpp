#include "app/desktop/wizard/wizard_model.h"

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

class WizardModelTest : public ::testing::Test {
protected:
    WizardModelTest() : ui_(MakeQtUiThread()) { NewModel(); }

    void NewModel() {
        model_ = std::make_unique<WizardModel>(dialogs_, *ui_, reg_);
        model_->Create();
        model_->AfterCreate();
    }
    // Settings that pass validation, over the sample mailbox.
    void MakeRunnable(SampleMailbox& box) {
        model_->Edit([&](Settings& s) {
            s.directory = box.TextFolder();
            s.manualFolder = box.ManualFolder();
            s.includeAttachments = false;
            s.emailsTo = Settings::kLeaveEmails;
            s.filterFilename.clear();
        });
    }
    std::string Temp(const std::string& name) { return (dir_ / name).string(); }

    registry::MemoryRegistry reg_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<UiThread> ui_;
    std::unique_ptr<WizardModel> model_;
    SampleMailbox box_;
    std::filesystem::path dir_ = box_.Root();
};

TEST_F(WizardModelTest, AFreshStartShowsUntitledPageOneAndTheFirstSampleName) {
    EXPECT_EQ(model_->Caption(), "Untitled - Quillfence Pro");
    EXPECT_EQ(model_->CurrentPage(), kLoginPage);
    EXPECT_FALSE(model_->Controls().prevButton);
    EXPECT_TRUE(model_->Controls().nextButton);
    EXPECT_EQ(model_->Sample().text, "Sample filename: 00000.txt");
    EXPECT_FALSE(model_->Sample().error);
    EXPECT_FALSE(model_->Modified());
    // The window values are written at start-up, "isFirstDay" as false.
    auto firstDay = reg_.GetValue(kSettingsKey, "isFirstDay");
    ASSERT_TRUE(firstDay);
    EXPECT_EQ(firstDay->dword, 0u);
}

TEST_F(WizardModelTest, AnEditMarksTheCaptionAndSavingAsNamesTheFile) {
    model_->Edit([](Settings& s) { s.tagText = "[done] "; });
    EXPECT_EQ(model_->Caption(), "Untitled (modified) - Quillfence Pro");
    dialogs_.fileToSave = Temp("a.qfo");
    model_->SaveCommand(); // untitled: Save goes through Save as
    EXPECT_EQ(dialogs_.saveDialogsShown, 1);
    EXPECT_EQ(model_->Caption(), "a.qfo - Quillfence Pro");
    ASSERT_EQ(model_->Recent().Paths().size(), 1u);
    // A titled record saves without asking for a name.
    model_->Edit([](Settings& s) { s.tagText = "x"; });
    model_->SaveCommand();
    EXPECT_EQ(dialogs_.saveDialogsShown, 1);
    EXPECT_FALSE(model_->Modified());
}

TEST_F(WizardModelTest, TheSampleNameFollowsTheFormatAndShowsFormatErrorsInRed) {
    model_->Edit([](Settings& s) {
        s.fileNameFormat = "%SUBJECT-%3.3d.txt";
        s.firstNumber = 7;
    });
    EXPECT_EQ(model_->Sample().text, "Sample filename: Subject-007.txt");
    model_->Edit([](Settings& s) { s.fileNameFormat = "%s"; });
    EXPECT_TRUE(model_->Sample().error);
    EXPECT_EQ(model_->Sample().text.rfind("Error - see help or fix format: ", 0), 0u)
        << model_->Sample().text;
    // The manual format never enters the sample.
    model_->Edit([](Settings& s) {
        s.fileNameFormat = "%d.txt";
        s.manualFormat = "%s%s";
    });
    EXPECT_EQ(model_->Sample().text, "Sample filename: 7.txt");
}

TEST_F(WizardModelTest, EnablingRulesFollowTheChoices) {
    model_->Edit([](Settings& s) {
        s.profile = Settings::kNamedProfile;
        s.profileName = "Work";
    });
    EXPECT_TRUE(model_->Controls().profileName);
    EXPECT_TRUE(model_->Controls().password);
    model_->Edit([](Settings& s) { s.profile = Settings::kDefaultProfile; });
    EXPECT_FALSE(model_->Controls().profileName);
    EXPECT_EQ(model_->Form().profileName, "Work"); // disabled, not cleared

    model_->Edit([](Settings& s) { s.emailsFrom = Settings::kFromFolder; });
    EXPECT_TRUE(model_->Controls().messageSource);
    EXPECT_TRUE(model_->Controls().browseFromFolder);
    model_->Edit([](Settings& s) { s.emailsTo = Settings::kTagSubject; });
    EXPECT_TRUE(model_->Controls().tagText);
    EXPECT_FALSE(model_->Controls().messageDestination);
    model_->Edit([](Settings& s) { s.emailsTo = Settings::kMoveEmails; });
    EXPECT_FALSE(model_->Controls().tagText);
    EXPECT_TRUE(model_->Controls().browseToFolder);
    model_->Edit([](Settings& s) { s.includeAttachments = false; });
    EXPECT_FALSE(model_->Controls().attachmentControls);
    model_->Edit([](Settings& s) { s.includeAttachments = true; });
    EXPECT_TRUE(model_->Controls().attachmentControls);
}

TEST_F(WizardModelTest, PageNavigationStopsAtBothEnds) {
    model_->PrevPage();
    EXPECT_EQ(model_->CurrentPage(), kLoginPage);
    for (int i = 0; i < 10; ++i) {
        model_->NextPage();
    }
    EXPECT_EQ(model_->CurrentPage(), kGoPage);
    EXPECT_FALSE(model_->Controls().nextButton);
    EXPECT_TRUE(model_->Controls().prevButton);
    EXPECT_TRUE(model_->Controls().goButton);
}

TEST_F(WizardModelTest, SaveAndOpenRoundTripThroughARealOptionsFile) {
    model_->Edit([](Settings& s) {
        s.emailHeader = EditorTextToField("Name: %FROM\nAbout: %SUBJECT");
        s.sortOrder = Settings::kBySubject;
        s.descending = true;
        s.profile = Settings::kNamedProfile;
        s.profileName = "Work";
        s.password = "pw";
        s.firstNumber = 2147483647;
    });
    dialogs_.fileToSave = Temp("round.qfo");
    model_->SaveAsCommand();
    const Settings saved = model_->Form();

    NewModel();
    dialogs_.fileToOpen = Temp("round.qfo");
    model_->OpenCommand();
    Settings expected = saved;
    expected.optionsFilePath = model_->Form().optionsFilePath;
    expected.formatVersion = model_->Form().formatVersion;
    EXPECT_EQ(model_->Form(), expected);
    EXPECT_FALSE(model_->Modified());
    EXPECT_EQ(model_->Caption(), "round.qfo - Quillfence Pro");
    EXPECT_EQ(model_->Form().emailHeader, "Name: %FROM\r\nAbout: %SUBJECT\r\n");
}

TEST_F(WizardModelTest, AFailedOpenLeavesEverythingAsItWas) {
    std::ofstream(Temp("broken.qfo")) << "not an options file";
    model_->Edit([](Settings& s) { s.tagText = "kept"; });
    const std::string caption = model_->Caption();
    EXPECT_FALSE(model_->OpenFile(Temp("broken.qfo")));
    ASSERT_EQ(dialogs_.errors.size(), 1u);
    EXPECT_EQ(model_->Form().tagText, "kept");
    EXPECT_EQ(model_->Caption(), caption);
    EXPECT_TRUE(model_->Recent().Paths().empty());
}

TEST(RecentFilesTest, KeepsTenMostRecentFirstAndMovesARepeatIgnoringCase) {
    RecentFiles recent;
    for (int i = 0; i < 12; ++i) {
        recent.Add("/jobs/f" + std::to_string(i) + ".qfo");
    }
    ASSERT_EQ(recent.Paths().size(), 10u);
    EXPECT_EQ(recent.Paths().front(), "/jobs/f11.qfo");
    EXPECT_EQ(recent.Paths().back(), "/jobs/f2.qfo");
    recent.Add("/JOBS/F5.QFO");
    EXPECT_EQ(recent.Paths().size(), 10u);
    EXPECT_EQ(recent.Paths().front(), "/JOBS/F5.QFO");
    EXPECT_EQ(std::count(recent.Paths().begin(), recent.Paths().end(), "/jobs/f5.qfo"), 0);
}

TEST_F(WizardModelTest, ARecentFileAsksToSaveFirstWhenModified) {
    model_->Edit([](Settings& s) { s.tagText = "first"; });
    dialogs_.fileToSave = Temp("other.qfo");
    model_->SaveAsCommand();
    model_->Edit([](Settings& s) { s.tagText = "changed"; });

    dialogs_.yesNoCancelAnswers = {Dialogs::Answer::Cancel};
    model_->OpenRecent(Temp("other.qfo"));
    EXPECT_EQ(model_->Form().tagText, "changed"); // Cancel stops

    dialogs_.yesNoCancelAnswers = {Dialogs::Answer::No};
    model_->OpenRecent(Temp("other.qfo"));
    EXPECT_EQ(model_->Form().tagText, "first");
    EXPECT_EQ(dialogs_.questions.back(), "Save current settings?");
}

TEST_F(WizardModelTest, YesOnAnUntitledRecordShowsTheSaveDialogAndCancellingStillOpens) {
    model_->Edit([](Settings& s) { s.tagText = "in file"; });
    dialogs_.fileToSave = Temp("r.qfo");
    model_->SaveAsCommand();
    NewModel();
    model_->Edit([](Settings& s) { s.tagText = "unsaved"; });
    dialogs_.fileToSave.reset(); // the save dialog is cancelled
    dialogs_.saveDialogsShown = 0;
    dialogs_.yesNoCancelAnswers = {Dialogs::Answer::Yes};
    model_->OpenRecent(Temp("r.qfo"));
    EXPECT_EQ(dialogs_.saveDialogsShown, 1);
    EXPECT_EQ(model_->Form().tagText, "in file");
}

TEST_F(WizardModelTest, TheCloseQuestionAndTheRegistrySave) {
    model_->Edit([](Settings& s) { s.tagText = "to registry"; });
    dialogs_.yesNoCancelAnswers = {Dialogs::Answer::Cancel};
    EXPECT_FALSE(model_->QueryClose());
    dialogs_.yesNoCancelAnswers = {Dialogs::Answer::No};
    EXPECT_TRUE(model_->QueryClose());
    model_->Close(); // No still saves the settings to the registry
    Settings reloaded;
    reloaded.LoadFromRegistry(reg_);
    EXPECT_EQ(reloaded.tagText, "to registry");
    // Unmodified: no question at all.
    NewModel();
    const auto asked = dialogs_.questions.size();
    EXPECT_TRUE(model_->QueryClose());
    EXPECT_EQ(dialogs_.questions.size(), asked);
}

TEST_F(WizardModelTest, GoWithABlankFolderShowsTheErrorAndOpensNoRunWindow) {
    int windows = 0;
    model_->runWindowFactory = [&] {
        ++windows;
        return std::make_unique<RecordingRunWindow>();
    };
    model_->Edit([](Settings& s) { s.directory.clear(); });
    EXPECT_FALSE(model_->Go());
    ASSERT_EQ(dialogs_.errors.size(), 1u);
    EXPECT_EQ(dialogs_.errors[0], "The folder to save resumes to is blank");
    EXPECT_EQ(windows, 0);
    EXPECT_FALSE(model_->Running());
}

TEST_F(WizardModelTest, AttachmentTypesOkMarksModifiedAndCancelKeepsTheTable) {
    const Settings before = model_->Form();
    dialogs_.attachmentEditor = [](AttachmentRows& rows) {
        rows[0].action = "Handle manually"; // a mistaken edit, then Cancel
        return false;
    };
    model_->EditAttachmentTypes();
    EXPECT_EQ(model_->Form().extensionActions, before.extensionActions);
    EXPECT_FALSE(model_->Modified());
    Settings gathered;
    model_->GatherSettings(gathered);
    EXPECT_EQ(gathered.extensionActions[0], "1"); // it never reaches a run

    dialogs_.attachmentEditor = [](AttachmentRows& rows) {
        rows.push_back({".doc2", ""});
        return true;
    };
    model_->EditAttachmentTypes();
    EXPECT_TRUE(model_->Modified());
    EXPECT_EQ(model_->Form().extensions.back(), ".doc2");
    EXPECT_EQ(model_->Record().extensionActions.back(), "6");
}

TEST_F(WizardModelTest, TheFolderChooserFillsTheFolderAndMarksModified) {
    dialogs_.folderChooser = [](FolderRole role, std::string& path, FolderReference& folder) {
        path = role == FolderRole::Source ? "Personal Folders/Inbox/Jobs" : "Done";
        folder.folderId.Assign({1, 2, 3});
        return true;
    };
    model_->BrowseFolder(FolderRole::Source);
    EXPECT_EQ(model_->Form().messageSource, "Personal Folders/Inbox/Jobs");
    EXPECT_EQ(model_->Form().sourceFolder.folderId.Bytes()[2], 3);
    EXPECT_TRUE(model_->Modified());
    model_->BrowseFolder(FolderRole::Destination);
    EXPECT_EQ(model_->Form().messageDestination, "Done");
}

TEST(EditorTextTest, LinesAreKeptWithCrLfAndShownWithLf) {
    EXPECT_EQ(EditorTextToField("a\nb"), "a\r\nb\r\n");
    EXPECT_EQ(EditorTextToField(""), "");
    EXPECT_EQ(FieldToEditorText("a\r\nb\rc\n"), "a\nb\nc");
}

// --- Runs ----------------------------------------------------------------

TEST_F(WizardModelTest, GoRunsOverTheSampleMailboxOnAWorkerAndHandsBackTheNumber) {
    MakeRunnable(box_);
    model_->Edit([](Settings& s) { s.firstNumber = 5; });
    dialogs_.fileToSave = Temp("job.qfo");
    model_->SaveAsCommand();
    model_->SetUpdateCount(true);
    RecordingRunWindow* window = nullptr;
    model_->runWindowFactory = [&] {
        auto w = std::make_unique<RecordingRunWindow>();
        window = w.get();
        return w;
    };
    ASSERT_TRUE(model_->Go()) << ::testing::PrintToString(dialogs_.errors);
    model_->WaitForRun();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->Errors().empty()) << window->Errors().front();
    EXPECT_TRUE(window->Finished());
    ASSERT_EQ(model_->LastOutcome(), RunOutcome::Complete);

    const int count = box_.MessageCount();
    for (int n = 5; n < 5 + count; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "%05d.txt", n);
        EXPECT_TRUE(std::filesystem::exists(box_.TextFolder() + name)) << name;
    }
    EXPECT_EQ(model_->Form().firstNumber, 5 + count);
    // The run window got the run's report: a row for each email.
    const auto report = window->Report();
    ASSERT_TRUE(report);
    EXPECT_EQ(static_cast<int>(report->Emails().size()), count);
    EXPECT_EQ(report->Emails().front().outputFile, box_.TextFolder() + "00005.txt");
    EXPECT_EQ(report->Ending(), RunEnding::Complete);
    // The update-count flag saved the advanced number into the options file.
    Settings saved;
    saved.LoadFromFile(Temp("job.qfo"));
    EXPECT_EQ(saved.firstNumber, 5 + count);
    EXPECT_FALSE(model_->Modified());
}

TEST_F(WizardModelTest, WithoutTheUpdateCountFlagTheNumberIsShownButNotSaved) {
    MakeRunnable(box_);
    dialogs_.fileToSave = Temp("plain.qfo");
    model_->SaveAsCommand();
    model_->runWindowFactory = [] { return std::make_unique<RecordingRunWindow>(); };
    ASSERT_TRUE(model_->Go());
    model_->WaitForRun();
    EXPECT_EQ(model_->Form().firstNumber, box_.MessageCount());
    EXPECT_TRUE(model_->Modified());
    Settings saved;
    saved.LoadFromFile(Temp("plain.qfo"));
    EXPECT_EQ(saved.firstNumber, 0);
}

TEST_F(WizardModelTest, WhileARunWorksTheWindowRefusesOrDefersWhatWouldDisturbIt) {
    MakeRunnable(box_);
    {
        Settings other = model_->Form();
        other.tagText = "opened later";
        other.SaveToFile(Temp("later.qfo"));
    }
    RecordingRunWindow* window = nullptr;
    model_->runWindowFactory = [&] {
        auto w = std::make_unique<RecordingRunWindow>(true);
        window = w.get();
        return w;
    };
    bool closeAllowed = false;
    model_->onCloseAllowed = [&] { closeAllowed = true; };
    ASSERT_TRUE(model_->Go());
    while (!window->Shown()) {
        ui_->ProcessEvents(5);
    }
    ASSERT_TRUE(model_->Running());
    const ControlStates c = model_->Controls();
    EXPECT_FALSE(c.goButton);
    EXPECT_FALSE(c.testLogin);
    EXPECT_FALSE(c.profileGroup);
    EXPECT_FALSE(c.openCommands);
    EXPECT_FALSE(model_->Go());
    EXPECT_FALSE(model_->Edit([](Settings& s) { s.profile = Settings::kPromptProfile; }));
    EXPECT_EQ(model_->Form().profile, Settings::kDefaultProfile);
    EXPECT_TRUE(model_->Edit([](Settings& s) { s.tagText = "edit while running"; }));
    dialogs_.fileToOpen = Temp("later.qfo");
    model_->OpenCommand();
    model_->OpenRecent(Temp("later.qfo"));
    model_->RequestOpen(Temp("later.qfo"));
    EXPECT_EQ(model_->Form().tagText, "edit while running");
    EXPECT_FALSE(model_->QueryClose());
    EXPECT_TRUE(dialogs_.questions.empty());

    window->Release();
    model_->WaitForRun();
    EXPECT_TRUE(closeAllowed);
    // The deferred open happened after the run, once.
    EXPECT_EQ(model_->Form().tagText, "opened later");
    EXPECT_EQ(model_->Recent().Paths().size(), 1u);
}

TEST_F(WizardModelTest, DestroyingTheWindowDuringARunCancelsAndWaitsForIt) {
    MakeRunnable(box_);
    RecordingRunWindow* window = nullptr;
    model_->runWindowFactory = [&] {
        auto w = std::make_unique<RecordingRunWindow>(true);
        window = w.get();
        return w;
    };
    ASSERT_TRUE(model_->Go());
    while (!window->Shown()) {
        ui_->ProcessEvents(5);
    }
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        window->Release();
    });
    model_.reset(); // must neither crash nor hang
    releaser.join();
    // The run stopped before any email was written (the run record stays).
    for (const auto& e : std::filesystem::directory_iterator(box_.TextFolder())) {
        EXPECT_EQ(e.path().filename(), ".quillfence-run");
    }
}

} // namespace
} // namespace qf::desktop
