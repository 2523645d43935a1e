// The main window and its dialogs under the offscreen platform: every modal
// question is answered by ScriptedDialogs or closed by a timer.
#include "app/desktop/wizard/about_box.h"
#include "app/desktop/wizard/attachment_types_dialog.h"
#include "app/desktop/wizard/main_window.h"
#include "app/desktop/wizard/profile_chooser_dialog.h"
#include "app/desktop/wizard/qt_dialogs.h"

#include "recording_run_window.h"
#include "sample_mailbox.h"
#include "scripted_dialogs.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

namespace qf::desktop {
namespace {

using testing::RecordingRunWindow;
using testing::SampleMailbox;
using testing::ScriptedDialogs;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() : ui_(MakeQtUiThread()) {
        reg_ = std::make_shared<registry::MemoryRegistry>();
        registry::SetCurrent(reg_);
        Open();
    }
    ~MainWindowTest() override {
        window_.reset();
        model_.reset();
    }
    void Open() {
        window_.reset();
        model_ = std::make_unique<WizardModel>(dialogs_, *ui_, *reg_);
        model_->Create();
        window_ = std::make_unique<MainWindow>(*model_, dialogs_);
        model_->AfterCreate();
        window_->ShowPlaced();
    }
    template <typename T> T* Find(const char* name) {
        T* w = window_->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    std::shared_ptr<registry::MemoryRegistry> reg_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<UiThread> ui_;
    std::unique_ptr<WizardModel> model_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, ControlsCarryTheirComponentNames) {
    for (const char* name : {"loginSheet",        "processedSheet",
                             "outputSheet",       "headerFooterSheet",
                             "attachmentSheet",   "siftloomSheet",
                             "goSheet",           "Profile",
                             "profileName",       "password",
                             "testLogin",         "emailsFrom",
                             "messageSource",     "browseFromFolder",
                             "sortOrder",         "descending",
                             "emailsTo",          "messageDestination",
                             "browseToFolder",    "tagText",
                             "readStatus",        "Directory",
                             "FileNameFormat",    "firstNumber",
                             "sampleName",        "manualFolder",
                             "manualFormat",      "emailHeader",
                             "emailFooter",       "includeAttachments",
                             "wordMacro",         "BitBtn3",
                             "startTag",          "endTag",
                             "filterFilename",    "Button1",
                             "SiftloomInstalled", "BitBtn2",
                             "prevButton",        "nextButton",
                             "finishButton",      "BitBtn1"}) {
        EXPECT_NE(window_->findChild<QWidget*>(name), nullptr) << name;
    }
    EXPECT_EQ(Find<QSpinBox>("firstNumber")->maximum(), 2147483647);
    EXPECT_EQ(window_->minimumSize(), QSize(600, 497));
}

TEST_F(MainWindowTest, AFreshWindowShowsPageOneAndTheSampleName) {
    EXPECT_EQ(window_->windowTitle(), "Untitled - Quillfence Pro");
    EXPECT_EQ(window_->Pages()->currentIndex(), 0);
    EXPECT_FALSE(Find<QPushButton>("prevButton")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>("nextButton")->isEnabled());
    EXPECT_EQ(Find<QLabel>("sampleName")->text(), "Sample filename: 00000.txt");
    EXPECT_FALSE(window_->RecentMenu()->isEnabled());
}

TEST_F(MainWindowTest, TheButtonsAndTabsWalkThePages) {
    for (int i = 0; i < 6; ++i) {
        Find<QPushButton>("nextButton")->click();
    }
    EXPECT_EQ(window_->Pages()->currentIndex(), 6);
    EXPECT_FALSE(Find<QPushButton>("nextButton")->isEnabled());
    window_->Pages()->setCurrentIndex(2); // a click on a tab
    EXPECT_EQ(model_->CurrentPage(), 2);
    EXPECT_TRUE(Find<QPushButton>("prevButton")->isEnabled());
    Find<QPushButton>("prevButton")->click();
    EXPECT_EQ(window_->Pages()->currentIndex(), 1);
}

TEST_F(MainWindowTest, EditsReachTheModelAndTheEnablingRulesShow) {
    QLineEdit* name = Find<QLineEdit>("profileName");
    EXPECT_FALSE(name->isEnabled());
    Find<QRadioButton>("Profile_2")->click();
    EXPECT_TRUE(name->isEnabled());
    name->setText("Work");
    EXPECT_EQ(model_->Form().profileName, "Work");
    EXPECT_EQ(window_->windowTitle(), "Untitled (modified) - Quillfence Pro");
    Find<QRadioButton>("Profile_0")->click();
    EXPECT_FALSE(name->isEnabled());
    EXPECT_EQ(name->text(), "Work");

    Find<QRadioButton>("emailsTo_2")->click();
    EXPECT_TRUE(Find<QLineEdit>("tagText")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("browseToFolder")->isEnabled());
    Find<QCheckBox>("includeAttachments")->setChecked(false);
    EXPECT_FALSE(Find<QLineEdit>("wordMacro")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("BitBtn3")->isEnabled());

    Find<QComboBox>("FileNameFormat")->setCurrentText("%s");
    EXPECT_TRUE(Find<QLabel>("sampleName")->text().startsWith("Error - see help or fix format"));
    EXPECT_TRUE(Find<QLabel>("sampleName")->styleSheet().contains("red"));
    Find<QSpinBox>("firstNumber")->setValue(42);
    Find<QComboBox>("FileNameFormat")->setCurrentText("%d.txt");
    EXPECT_EQ(Find<QLabel>("sampleName")->text(), "Sample filename: 42.txt");
}

TEST_F(MainWindowTest, TheFilterFileLosesItsQuotesAndMultiLineTextsKeepCrLf) {
    Find<QLineEdit>("filterFilename")->setText("\"/x/f.fll\"");
    EXPECT_EQ(model_->Form().filterFilename, "/x/f.fll");
    auto* header = window_->findChild<QPlainTextEdit*>("emailHeader");
    header->setPlainText("From: %FROM\nTo: %TO");
    EXPECT_EQ(model_->Form().emailHeader, "From: %FROM\r\nTo: %TO\r\n");
}

TEST_F(MainWindowTest, OpeningAFileShowsItsValuesAndFillsTheRecentMenu) {
    SampleMailbox box;
    Settings s = Settings::FirstStartDefaults();
    s.tagText = "[from file] ";
    s.emailsTo = Settings::kTagSubject;
    s.SaveToFile((box.Root() / "t.qfo").string());
    dialogs_.fileToOpen = (box.Root() / "t.qfo").string();
    window_->menuBar()->actions()[0]->menu()->actions()[0]->trigger(); // File > Open...
    EXPECT_EQ(Find<QLineEdit>("tagText")->text(), "[from file] ");
    EXPECT_TRUE(Find<QLineEdit>("tagText")->isEnabled());
    EXPECT_EQ(window_->windowTitle(), "t.qfo - Quillfence Pro");
    EXPECT_TRUE(window_->RecentMenu()->isEnabled());
    EXPECT_EQ(window_->RecentMenu()->actions().size(), 1);
}

TEST_F(MainWindowTest, TheCloseQuestionKeepsTheWindowOrClosesAndStoresEverything) {
    Find<QLineEdit>("tagText")->setText("closing");
    dialogs_.yesNoCancelAnswers = {Dialogs::Answer::Cancel};
    EXPECT_FALSE(window_->close());
    EXPECT_TRUE(window_->isVisible());
    dialogs_.yesNoCancelAnswers = {Dialogs::Answer::No};
    window_->resize(700, 540);
    EXPECT_TRUE(window_->close());
    Settings stored;
    stored.LoadFromRegistry(*reg_);
    EXPECT_EQ(stored.tagText, "closing");
    const std::string key = "Software\\Brindlemox\\Quillfence\\main";
    ASSERT_TRUE(reg_->GetValue(key, "Width"));
    EXPECT_EQ(reg_->GetValue(key, "Width")->dword, 700u);
    // The next window opens at the stored size.
    Open();
    EXPECT_EQ(window_->size(), QSize(700, 540));
}

TEST_F(MainWindowTest, APlacementOffEveryScreenIsIgnored) {
    const std::string key = "Software\\Brindlemox\\Quillfence\\main";
    reg_->CreateKey(key);
    reg_->SetValue(key, "WindowState", registry::Value::Dword(1));
    reg_->SetValue(key, "Width", registry::Value::Dword(650));
    reg_->SetValue(key, "Height", registry::Value::Dword(520));
    reg_->SetValue(key, "Left", registry::Value::Dword(50000));
    reg_->SetValue(key, "Top", registry::Value::Dword(50000));
    Open();
    EXPECT_LT(window_->x(), 10000);
    EXPECT_EQ(window_->size(), QSize(636, 497)); // its own initial bounds
}

TEST_F(MainWindowTest, WhileARunWorksGoLoginOpenAndCloseAreRefused) {
    SampleMailbox box;
    model_->Edit([&](Settings& s) {
        s.directory = box.TextFolder();
        s.manualFolder = box.ManualFolder();
        s.includeAttachments = false;
        s.filterFilename.clear();
    });
    RecordingRunWindow* run = nullptr;
    model_->runWindowFactory = [&] {
        auto w = std::make_unique<RecordingRunWindow>(true);
        run = w.get();
        return w;
    };
    Find<QPushButton>("finishButton")->click();
    ASSERT_NE(run, nullptr);
    while (!run->Shown()) {
        ui_->ProcessEvents(5);
    }
    EXPECT_FALSE(Find<QPushButton>("finishButton")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("testLogin")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("Profile")->isEnabled());
    EXPECT_FALSE(window_->menuBar()->actions()[0]->menu()->actions()[0]->isEnabled());
    EXPECT_FALSE(window_->close()); // put off until the run has returned
    EXPECT_TRUE(window_->isVisible());
    dialogs_.yesNoCancelAnswers = {Dialogs::Answer::No};
    run->Release();
    model_->WaitForRun();
    ui_->ProcessEvents(0);
    EXPECT_FALSE(window_->isVisible()); // the deferred close went ahead
    EXPECT_TRUE(Find<QPushButton>("finishButton")->isEnabled());
}

// --- Attachment types editor ------------------------------------------------

// Answers the next modal dialog from inside its event loop.
void AnswerModal(const std::function<void(QDialog&)>& answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(*dialog);
    });
}

TEST(AttachmentTypesDialogTest, CancelLeavesTheRowsAsTheyWereWhenItOpened) {
    AttachmentRows rows = DefaultRows();
    AnswerModal([](QDialog& d) {
        auto& editor = static_cast<AttachmentTypesDialog&>(d);
        editor.Grid()->item(0, 1)->setText("Handle manually");
        editor.Grid()->selectRow(1);
        editor.DeleteSelectedRows();
        d.findChild<QPushButton*>("BitBtn2")->click(); // Cancel
    });
    EXPECT_FALSE(AttachmentTypesDialog::Edit(nullptr, rows));
    EXPECT_EQ(rows, DefaultRows());
}

TEST(AttachmentTypesDialogTest, OkReturnsInsertedAndDeletedRows) {
    AttachmentRows rows = DefaultRows();
    AnswerModal([](QDialog& d) {
        auto& editor = static_cast<AttachmentTypesDialog&>(d);
        editor.Grid()->selectRow(0);
        editor.DeleteSelectedRows();
        editor.Grid()->setCurrentCell(17, 0);
        editor.InsertRow();
        editor.Grid()->item(18, 0)->setText(".doc2");
        d.findChild<QPushButton*>("BitBtn1")->click(); // OK
    });
    ASSERT_TRUE(AttachmentTypesDialog::Edit(nullptr, rows));
    ASSERT_EQ(rows.size(), 19u);
    EXPECT_EQ(rows[0].type, ".html");
    EXPECT_EQ(rows[18], (AttachmentRow{".doc2", ""}));
}

TEST(AttachmentTypesDialogTest, DefaultsRestoreTheNineteenRows) {
    AttachmentTypesDialog editor;
    editor.SetRows({});
    editor.findChild<QPushButton*>("restoreDefaults")->click();
    EXPECT_EQ(editor.Rows(), DefaultRows());
}

TEST(AttachmentTypesDialogTest, TheHintFollowsTheCurrentRowAndItsAction) {
    AttachmentTypesDialog editor;
    editor.SetRows(DefaultRows());
    editor.Grid()->setCurrentCell(13, 0); // .pdf, printed
    EXPECT_NE(editor.Hint()->text().indexOf("choose \"Open (using MS Word)\""), -1);
    editor.Grid()->item(13, 1)->setText("Open (using MS Word)");
    EXPECT_NE(editor.Hint()->text().indexOf("(a scan)"), -1);
    editor.Grid()->setCurrentCell(12, 0); // .zip
    EXPECT_TRUE(editor.Hint()->text().isEmpty());
}

// --- Profile chooser and about box ----------------------------------------

TEST(ProfileChooserTest, ALogonOnAWorkerAsksOnTheUiThreadAndWaits) {
    auto ui = MakeQtUiThread();
    std::atomic<bool> askedOnUi{false};
    mapi::ProfileChooser chooser =
        MakeProfileChooser(*ui, [&](const std::vector<std::string>& names, const std::string&) {
            askedOnUi = ui->OnUiThread();
            return std::optional<mapi::ProfileChoice>({names.at(1), "pw"});
        });
    std::optional<mapi::ProfileChoice> choice;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        choice = chooser({"Default", "Work"}, "Default");
        done = true;
    });
    while (!done) {
        ui->ProcessEvents(5);
    }
    worker.join();
    EXPECT_TRUE(askedOnUi);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->profileName, "Work");
}

TEST(ProfileChooserTest, ThePasswordFieldIsOpenOnlyForProfilesThatHaveOne) {
    ProfileChooserDialog dialog({"Default", "Work"}, "Default", {"Work"});
    EXPECT_FALSE(dialog.PasswordEdit()->isEnabled());
    dialog.Profiles()->setCurrentIndex(1);
    EXPECT_TRUE(dialog.PasswordEdit()->isEnabled());
    dialog.PasswordEdit()->setText("s3cret");
    EXPECT_EQ(dialog.Choice().profileName, "Work");
    EXPECT_EQ(dialog.Choice().password, "s3cret");
}

TEST(AboutBoxTest, NamesTheProductVersionAndMaker) {
    AboutBox box;
    QStringList texts;
    for (const QLabel* label : box.findChildren<QLabel*>()) {
        texts << label->text();
    }
    const QString text = texts.join('\n');
    EXPECT_TRUE(box.windowTitle().contains("Quillfence Pro"));
    EXPECT_TRUE(text.contains("Quillfence Pro"));
    EXPECT_EQ(box.VersionLabel()->text(), "Version 3.2");
    EXPECT_TRUE(text.contains("Brindlemox"));
}

} // namespace
} // namespace qf::desktop
