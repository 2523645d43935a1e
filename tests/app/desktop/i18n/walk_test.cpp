// The walk over real windows: spot checks in a small German file, recording
// into a fresh English file, and the live change between the two.
#include "app/desktop/i18n/language_chooser.h"
#include "app/desktop/i18n/qt_walk.h"
#include "app/desktop/i18n/window_registry.h"
#include "app/desktop/wizard/attachment_types_dialog.h"
#include "app/desktop/wizard/main_window.h"
#include "app/desktop/wizard/profile_chooser_dialog.h"
#include "common/fileio.h"
#include "i18n/loadstrings.h"
#include "i18n/msgdlg.h"
#include "platform/registry/registry.h"

#include "../wizard/scripted_dialogs.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qf::desktop {
namespace {

namespace fs = std::filesystem;

const char* const kGerman = "[TForm1]\r\n"
                            "loginSheet.Caption=&1 Anmeldung\r\n"
                            "Profile.Caption= Anmeldeprofil \r\n"
                            "Profile.items=Standard\\r\\nNachfragen\\r\\nBenutzername:\\r\\n\r\n"
                            "profileName.Hint=Der Name des Profils\r\n"
                            "testLogin.Caption=Anmeldung testen\r\n"
                            "testLogin.Hint=Pr\xC3\xBC"
                            "ft die Anmeldung\r\n"
                            "sortOrder.items=Nicht sortieren\\r\\nEingangsdatum\\r\\n\r\n"
                            "Open1.Caption=\xC3\x96&ffnen...\r\n"
                            "File1.Caption=&Datei\r\n"
                            "emailHeaderLabel.Caption=E-Mail-&Kopf\r\n"
                            "BitBtn1.Caption=\r\n"
                            "[TfileTypesForm]\r\n"
                            "Grid.col_1.row_0=Typ\r\n"
                            "Grid.col_2.row_0=Aktion\r\n"
                            "[TTLangForm]\r\n"
                            "Label4.Caption=&Sprache\r\n"
                            "[global]\r\n"
                            "8461=Beispieldateiname: %s\r\n";

class WalkTest : public ::testing::Test {
protected:
    WalkTest() : ui_(MakeQtUiThread()) {
        dir_ = fs::temp_directory_path() / ("qf-walk-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "Languages");
        home_ = dir_.string() + "/";
        std::ofstream(dir_ / "Languages/German.ini", std::ios::binary) << kGerman;
        reg_ = std::make_shared<registry::MemoryRegistry>();
        registry::SetCurrent(reg_);
        model_ = std::make_unique<WizardModel>(dialogs_, *ui_, *reg_);
        model_->Create();
        window_ = std::make_unique<MainWindow>(*model_, dialogs_);
        model_->AfterCreate();
    }
    ~WalkTest() override {
        window_.reset();
        model_.reset();
        SetStringLoader(nullptr);
        fs::remove_all(dir_);
    }
    template <typename T> T* Find(const char* name) const {
        T* w = window_->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QAction* Action(const char* name) const { return Find<QAction>(name); }

    fs::path dir_;
    std::string home_;
    std::shared_ptr<registry::MemoryRegistry> reg_;
    testing::ScriptedDialogs dialogs_;
    std::unique_ptr<UiThread> ui_;
    std::unique_ptr<WizardModel> model_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(WalkTest, GermanReplacesCaptionsHintsItemsAndMenus) {
    InstallLanguage("German", home_);
    TranslateAndWatch(*window_);
    EXPECT_EQ(window_->Pages()->tabText(0), "&1 Anmeldung");
    EXPECT_EQ(Find<QGroupBox>("Profile")->title(), " Anmeldeprofil ");
    EXPECT_EQ(Find<QRadioButton>("Profile_1")->text(), "Nachfragen");
    EXPECT_EQ(Find<QLineEdit>("profileName")->toolTip(), "Der Name des Profils");
    EXPECT_EQ(Find<QPushButton>("testLogin")->text(), "Anmeldung testen");
    EXPECT_EQ(Find<QPushButton>("testLogin")->statusTip(), "Pr\u00fcft die Anmeldung")
        << "a hint is added where there was none";
    EXPECT_EQ(Find<QLabel>("emailHeaderLabel")->text(), "E-Mail-&Kopf");
    EXPECT_EQ(Find<QPushButton>("BitBtn1")->text(), "Exit") << "an empty value changes nothing";
    EXPECT_EQ(Action("Open1")->text(), "\u00d6&ffnen...");
    EXPECT_EQ(Action("Open1")->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(Find<QMenu>("File1")->title(), "&Datei");
    // The shorter drop-down list is completed from the program's own items
    // and recorded complete; the choice shown stays.
    auto* sort = Find<QComboBox>("sortOrder");
    ASSERT_EQ(sort->count(), 5);
    EXPECT_EQ(sort->itemText(0), "Nicht sortieren");
    EXPECT_EQ(sort->itemText(4), "From address");
    EXPECT_FALSE(model_->Modified());
    const std::string file = ReadFileBytes(home_ + "Languages/German.ini");
    EXPECT_NE(file.find("sortOrder.items=Nicht sortieren\\r\\nEingangsdatum\\r\\nSubject line"),
              std::string::npos);
}

TEST_F(WalkTest, GridHeadingsTranslatedOrRecordedIntoAnyFile) {
    InstallLanguage("German", home_);
    AttachmentTypesDialog editor(window_.get());
    TranslateWindow(editor);
    auto* grid = editor.findChild<QTableWidget*>("Grid");
    EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), "Typ");
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), "Aktion");

    InstallLanguage("French", home_); // no such file yet
    AttachmentTypesDialog again(window_.get());
    TranslateWindow(again);
    EXPECT_EQ(ReadFileBytes(home_ + "Languages/French.ini"),
              "[TfileTypesForm]\r\nGrid.col_1.row_0=Type\r\nGrid.col_2.row_0=Action\r\n\r\n");
}

TEST_F(WalkTest, EnglishRecordsEveryNamedTextOnceAndLeavesDataAlone) {
    InstallLanguage("English", home_);
    WalkReport report;
    TranslateWindow(*window_, &report);
    EXPECT_TRUE(report.unnamed.empty()) << report.unnamed.front();
    const std::string file = ReadFileBytes(home_ + "Languages/English.ini");
    for (const char* line :
         {"[TForm1]\r\n", "loginSheet.Caption=&1 Login\r\n", "Profile.Caption= Login Profile \r\n",
          "Profile.items=Default\\r\\nPrompt\\r\\nUsername:\\r\\n\r\n",
          "profileName.Hint=The name of the profile to login with\r\n",
          "Open1.Caption=&Open...\r\n", "ToolButton1.Hint=Open a settings file\r\n",
          "Changelanguage1.Caption=&Change language...\r\n",
          "DirectoryLabel.Caption=Folder to sa&ve resumes to\r\n"}) {
        EXPECT_NE(file.find(line), std::string::npos) << line;
    }
    for (const char* data :
         {"sampleName", "SiftloomInstalled", "Form1.Caption", "FileNameFormat."}) {
        EXPECT_EQ(file.find(data), std::string::npos) << data;
    }
    TranslateWindow(*window_);
    EXPECT_EQ(ReadFileBytes(home_ + "Languages/English.ini"), file) << "nothing new to record";
}

TEST_F(WalkTest, AListOfTheUsersNamesIsNeitherTranslatedNorRecorded) {
    std::ofstream(dir_ / "Languages/German.ini", std::ios::app | std::ios::binary)
        << "[TchooseProfile]\r\nprofiles.items=Eins\\r\\nZwei\\r\\n\r\n"
           "profileLabel.Caption=Profil&name:\r\n";
    InstallLanguage("German", home_);
    ProfileChooserDialog german({"Work", "Home"}, "Home", {});
    EXPECT_EQ(german.findChild<QLabel*>("profileLabel")->text(), "Profil&name:");
    EXPECT_EQ(german.Profiles()->itemText(0), "Work");
    EXPECT_EQ(german.Profiles()->currentText(), "Home");

    InstallLanguage("English", home_);
    WalkReport report;
    ProfileChooserDialog english({"Work", "Home"}, "Home", {});
    TranslateWindow(english, &report);
    EXPECT_TRUE(report.unnamed.empty()) << report.unnamed.front();
    const std::string file = ReadFileBytes(home_ + "Languages/English.ini");
    EXPECT_NE(file.find("profileLabel.Caption=Profile &Name:"), std::string::npos);
    EXPECT_EQ(file.find("profiles.items"), std::string::npos);
    EXPECT_EQ(file.find("Work"), std::string::npos);
}

TEST_F(WalkTest, MalformedEntryStopsTheWalkAndIsShown) {
    std::ofstream(dir_ / "Languages/Bad.ini", std::ios::binary)
        << "[TForm1]\r\nloginSheet.Caption=Eins\r\nProfile.Caption=bad\\1\r\n";
    InstallLanguage("Bad", home_);
    std::vector<std::u16string> errors;
    ScopedMessageHooks hooks({{}, [&](std::u16string_view text, DlgKind, DlgButtons, int) {
                                  errors.emplace_back(text);
                                  return DlgResult::OK;
                              }});
    TranslateWindow(*window_);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(u"Expecting 3 trailing octal digits"), std::u16string::npos);
    EXPECT_EQ(window_->Pages()->tabText(0), "Eins");
    EXPECT_EQ(Find<QGroupBox>("Profile")->title(), " Login Profile ");
}

TEST_F(WalkTest, LanguageChangeRewalksOpenWindowsAtOnce) {
    InstallLanguage("English", home_);
    TranslateAndWatch(*window_);
    auto chooseGerman = [](QDialog& dialog) {
        auto* chooser = static_cast<LanguageChooser*>(&dialog);
        EXPECT_EQ(chooser->Languages()->count(), 2);
        EXPECT_EQ(chooser->SelectedLanguage(), "English");
        chooser->SelectLanguage("german");
        return static_cast<int>(QDialog::Accepted);
    };
    EXPECT_EQ(ChooseLanguage(window_.get(), "English", home_, chooseGerman), "German");
    EXPECT_EQ(window_->Pages()->tabText(0), "&1 Anmeldung");
    EXPECT_EQ(Find<QLabel>("sampleName")->text().left(18), "Beispieldateiname:")
        << "the window renews its own texts";

    auto chooseEnglish = [](QDialog& dialog) {
        auto* chooser = static_cast<LanguageChooser*>(&dialog);
        EXPECT_EQ(chooser->findChild<QLabel*>("Label4")->text(), "&Sprache");
        chooser->SelectLanguage("English");
        return static_cast<int>(QDialog::Accepted);
    };
    EXPECT_EQ(ChooseLanguage(window_.get(), "German", home_, chooseEnglish), "English");
    EXPECT_EQ(window_->Pages()->tabText(0), "&1 Login");
    EXPECT_EQ(Find<QRadioButton>("Profile_1")->text(), "Prompt");
    EXPECT_EQ(Find<QComboBox>("sortOrder")->itemText(0), "Do not sort");
    EXPECT_EQ(Action("Open1")->text(), "&Open...");

    auto cancel = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
    EXPECT_EQ(ChooseLanguage(window_.get(), "English", home_, cancel), std::nullopt);
    auto same = [](QDialog&) { return static_cast<int>(QDialog::Accepted); };
    EXPECT_EQ(ChooseLanguage(window_.get(), "English", home_, same), std::nullopt);
}

TEST_F(WalkTest, FewerRadioItemsHideTheRestUntilTheNextLanguage) {
    std::ofstream(dir_ / "Languages/Short.ini", std::ios::binary)
        << "[TForm1]\r\nemailsTo.items=Nichts tun\\r\\n\r\nProfile.items=\r\n";
    InstallLanguage("Short", home_);
    TranslateWindow(*window_);
    EXPECT_EQ(Find<QRadioButton>("emailsTo_0")->text(), "Nichts tun");
    EXPECT_TRUE(Find<QRadioButton>("emailsTo_1")->isHidden());
    EXPECT_TRUE(Find<QRadioButton>("Profile_0")->isHidden());
    InstallLanguage("English", home_);
    TranslateWindow(*window_);
    EXPECT_FALSE(Find<QRadioButton>("emailsTo_1")->isHidden());
    EXPECT_EQ(Find<QRadioButton>("emailsTo_0")->text(), "Do nothing - leave emails where they are");
}

} // namespace
} // namespace qf::desktop
