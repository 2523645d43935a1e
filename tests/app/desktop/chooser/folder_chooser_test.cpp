// The folder chooser over a profile of real Maildir++ stores: the tree, read
// lazily; stores that cannot be opened; Refresh; the chosen folder as text
// and as the settings' reference, through an options file and back to the
// folder's emails; the selection kept between showings.
#include "support/maildir_fixture.h"

#include "mail/session.h"
#include "mail/store.h"

#include "app/desktop/chooser/folder_chooser.h"
#include "app/desktop/i18n/window_registry.h"
#include "i18n/loadstrings.h"
#include "mail/email.h"
#include "mail/session.h"
#include "platform/registry/registry.h"

#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <gtest/gtest.h>

namespace qf::testing {
namespace {

using desktop::ChangeLanguage;
using desktop::FolderChooser;
using desktop::FolderRole;

class FolderChooserTest : public ::testing::Test {
protected:
    MaildirFixture mail; // the store "Personal Folders"
    std::string archive = mail.temp.path() + "Archive";
    registry::MemoryRegistry reg;
    std::unique_ptr<MapiSession> session;
    std::unique_ptr<FolderChooser> chooser;
    std::vector<QString> errors;

    FolderChooserTest() {
        mail.MakeFolder("Applications");
        mail.MakeFolder("Applications.2026");
        mail.MakeFolder("Done");
        // Maildir++ names are modified UTF-7 on disk: "Bewerbungen für Köln".
        mail.MakeFolder("Bewerbungen f&APw-r K&APY-ln");
        for (const char* f : {"", "/.Old"}) {
            for (const char* sub : {"/cur", "/new", "/tmp"}) {
                std::filesystem::create_directories(archive + f + sub);
            }
        }
        WriteProfile("");
    }

    void WriteProfile(const std::string& extra) {
        WriteFileAtomic(mail.temp.path() + "profiles.ini",
                        "[profile Test]\ndefault = yes\n"
                        "store = maildir | Personal Folders | " +
                            mail.root + "\nstore = maildir | Archive | " + archive + "\n" + extra);
        chooser.reset();
        session = std::make_unique<MapiSession>();
        chooser = std::make_unique<FolderChooser>(*session, reg);
        chooser->SetErrorHook([this](QWidget*, const QString& t) { errors.push_back(t); });
    }

    // Shows the dialog: `act` runs while it is up; OK unless it says otherwise.
    bool Choose(Settings& s, FolderRole role, std::string& path,
                const std::function<int(FolderChooser&)>& act) {
        chooser->SetModalRunner([&](FolderChooser& dialog) {
            dialog.show();
            const int result = act(dialog);
            dialog.hide();
            return result;
        });
        return chooser->Choose(s, role, path);
    }

    QStringList Texts(const QModelIndex& parent = {}) const {
        QStringList texts;
        const QStandardItemModel* model = chooser->Model();
        for (int r = 0; r < model->rowCount(parent); ++r) {
            texts << model->index(r, 0, parent).data().toString();
        }
        return texts;
    }
    QModelIndex Find(const QString& text) const {
        const auto found = chooser->Model()->match(chooser->Model()->index(0, 0), Qt::DisplayRole,
                                                   text, 1, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? QModelIndex() : found.first();
    }
};

TEST_F(FolderChooserTest, EveryStoreIsARootWithItsFoldersDecodedAndSorted) {
    Settings s = mail.settings();
    std::string path;
    Choose(s, FolderRole::Source, path, [&](FolderChooser&) { return QDialog::Rejected; });
    EXPECT_EQ(chooser->windowTitle(), "Choose an email folder");
    EXPECT_EQ(Texts(), (QStringList{"Archive", "Personal Folders"}));
    const QModelIndex personal = Find("Personal Folders");
    EXPECT_EQ(Texts(personal), (QStringList{"Applications", "Bewerbungen für Köln", "Done"}));
    EXPECT_EQ(Texts(Find("Archive")), QStringList{"Old"});
    // The first store is selected; a cancelled dialog changes nothing.
    EXPECT_EQ(chooser->Selected().path, "Archive");
    EXPECT_TRUE(s.messageSource.empty());
    EXPECT_TRUE(s.sourceFolder.folderId.IsBlank());
}

TEST_F(FolderChooserTest, SubfoldersAreReadWhenTheirFolderIsOpened) {
    Settings s = mail.settings();
    std::string path;
    Choose(s, FolderRole::Source, path, [&](FolderChooser& d) {
        const QModelIndex apps = Find("Applications");
        // Only a stand-in below the folder until it is opened.
        EXPECT_EQ(Texts(apps), QStringList{"..."});
        d.Tree()->expand(apps);
        EXPECT_EQ(Texts(Find("Applications")), QStringList{"2026"});
        return QDialog::Rejected;
    });
}

TEST_F(FolderChooserTest, TheChosenFolderComesBackAsPathAndReferenceThroughAnOptionsFile) {
    const std::string subFile = mail.Deliver(Mail(), "Applications.2026");
    Settings s = mail.settings();
    std::string path;
    ASSERT_TRUE(Choose(s, FolderRole::Source, path, [&](FolderChooser& d) {
        EXPECT_TRUE(d.SelectPath("Personal Folders\\Applications\\2026"));
        return QDialog::Accepted;
    }));
    EXPECT_EQ(path, "Personal Folders\\Applications\\2026");
    EXPECT_EQ(s.messageSource, path);
    EXPECT_FALSE(s.sourceFolder.folderId.IsBlank());

    const std::string file = mail.temp.path() + "chosen.qfo";
    s.SaveToFile(file);
    Settings back;
    back.LoadFromFile(file);
    EXPECT_EQ(back.messageSource, path);
    EXPECT_EQ(back.sourceFolder, s.sourceFolder);
    // The reference opens the chosen folder: its one email is listed.
    MapiSession fresh;
    OpenedFolderReference ref = MakeFolderReference(&fresh, "", back.sourceFolder.storeId.Bytes(),
                                                    back.sourceFolder.folderId.Bytes());
    std::vector<std::unique_ptr<EmailMessage>> emails;
    ref.folder->ListEmails(emails);
    ASSERT_EQ(emails.size(), 1u);
    EXPECT_EQ(emails[0]->subject, "Application");
    (void)subFile;

    // The destination is written to its own fields.
    ASSERT_TRUE(Choose(s, FolderRole::Destination, path, [&](FolderChooser& d) {
        return d.SelectPath("Archive\\Old") ? QDialog::Accepted : QDialog::Rejected;
    }));
    EXPECT_EQ(s.messageDestination, "Archive\\Old");
    EXPECT_EQ(s.messageSource, "Personal Folders\\Applications\\2026");
    EXPECT_NE(s.destinationFolder.storeId, s.sourceFolder.storeId);
}

TEST_F(FolderChooserTest, TheSelectionAndTheTreeAreKeptBetweenShowings) {
    Settings s = mail.settings();
    std::string path;
    ASSERT_TRUE(Choose(s, FolderRole::Source, path, [&](FolderChooser& d) {
        d.SelectPath("Personal Folders\\Done");
        return QDialog::Accepted;
    }));
    // A folder made meanwhile is not seen: the tree is not read again.
    mail.MakeFolder("Later");
    Settings other = mail.settings();
    std::string second;
    ASSERT_TRUE(Choose(other, FolderRole::Source, second,
                       [&](FolderChooser&) { return QDialog::Accepted; }));
    EXPECT_EQ(second, "Personal Folders\\Done");
    EXPECT_FALSE(Find("Later").isValid());
    // The settings' own folder is selected when the dialog opens.
    Settings third = mail.settings();
    third.messageSource = "Personal Folders\\Applications";
    ASSERT_TRUE(Choose(third, FolderRole::Source, second,
                       [&](FolderChooser&) { return QDialog::Accepted; }));
    EXPECT_EQ(second, "Personal Folders\\Applications");
}

TEST_F(FolderChooserTest, RefreshShowsAFolderAddedOnDiskAndKeepsTheSelection) {
    Settings s = mail.settings();
    std::string path;
    ASSERT_TRUE(Choose(s, FolderRole::Source, path, [&](FolderChooser& d) {
        d.SelectPath("Personal Folders\\Done");
        mail.MakeFolder("Added");
        EXPECT_FALSE(Find("Added").isValid());
        d.Refresh();
        EXPECT_TRUE(Find("Added").isValid());
        return QDialog::Accepted;
    }));
    EXPECT_EQ(path, "Personal Folders\\Done");
}

TEST_F(FolderChooserTest, AStoreThatCannotBeOpenedIsAnErrorNodeThatSelectsNothing) {
    WriteProfile("store = maildir | Gone | " + mail.temp.path() + "no-such-maildir\n");
    Settings s = mail.settings();
    std::string path;
    ASSERT_TRUE(Choose(s, FolderRole::Source, path, [&](FolderChooser& d) {
        EXPECT_EQ(Texts().size(), 3);
        QModelIndex error;
        for (const QString& t : Texts()) {
            if (t != "Archive" && t != "Personal Folders") {
                error = Find(t);
            }
        }
        EXPECT_TRUE(error.isValid());
        EXPECT_TRUE(error.data().toString().startsWith("Position:"))
            << error.data().toString().toStdString();
        d.SelectPath("Archive\\Old");
        d.Tree()->setCurrentIndex(error);
        return QDialog::Accepted;
    }));
    EXPECT_EQ(path, "Archive\\Old"); // the error node changed nothing
}

TEST_F(FolderChooserTest, ATreeBuiltBeforeALogoffIsReadAnewAtTheNextShowing) {
    Settings s = mail.settings();
    std::string path;
    Choose(s, FolderRole::Source, path, [&](FolderChooser&) { return QDialog::Rejected; });
    ASSERT_FALSE(chooser->Folders().OutOfDate());
    session->Logoff(); // another profile: the session's stores are released
    EXPECT_TRUE(chooser->Folders().OutOfDate());
    // Opening a node of the old tree reads nothing through the released stores.
    chooser->Tree()->expand(Find("Applications"));
    EXPECT_EQ(Texts(Find("Applications")), QStringList{"..."});
    mail.MakeFolder("New");
    ASSERT_TRUE(Choose(s, FolderRole::Source, path, [&](FolderChooser& d) {
        EXPECT_TRUE(Find("New").isValid());
        return d.SelectPath("Personal Folders\\New") ? QDialog::Accepted : QDialog::Rejected;
    }));
    EXPECT_FALSE(chooser->Folders().OutOfDate());
}

TEST_F(FolderChooserTest, AProfileWithoutStoresGivesAnEmptyTreeAndKeepsThePreviousChoice) {
    Settings s = mail.settings();
    std::string path;
    ASSERT_TRUE(Choose(s, FolderRole::Source, path, [&](FolderChooser& d) {
        d.SelectPath("Archive\\Old");
        return QDialog::Accepted;
    }));
    WriteFileAtomic(mail.temp.path() + "profiles.ini", "[profile Empty]\ndefault = yes\n");
    session->Logoff();
    ASSERT_TRUE(Choose(s, FolderRole::Source, path, [&](FolderChooser&) {
        EXPECT_EQ(Texts().size(), 0);
        return QDialog::Accepted;
    }));
    EXPECT_EQ(path, "Archive\\Old");
}

TEST_F(FolderChooserTest, ItsTextsFollowTheLanguageAndTheLoadedCaptionStays) {
    std::filesystem::create_directories(mail.temp.path() + "Languages");
    WriteFileAtomic(mail.temp.path() + "Languages/German.ini",
                    "[TchooseFolder]\nchooseFolder.Caption=Bitte warten\n"
                    "Label9.Caption=&Neuer Ordner:\nBitBtn2.Caption=Abbrechen\n"
                    "[global]\n3020=E-Mail-Ordner w\xC3\xA4hlen\n");
    InstallLanguage("German", mail.temp.path());
    WriteProfile("");
    EXPECT_EQ(chooser->windowTitle(), "Bitte warten");
    EXPECT_EQ(chooser->findChild<QLabel*>("Label9")->text(), "&Neuer Ordner:");
    EXPECT_EQ(chooser->findChild<QPushButton*>("BitBtn2")->text(), "Abbrechen");
    EXPECT_EQ(chooser->findChild<QPushButton*>("refreshButton")->text(), "&Refresh");

    Settings s = mail.settings();
    std::string path;
    Choose(s, FolderRole::Source, path, [](FolderChooser&) { return QDialog::Rejected; });
    EXPECT_EQ(chooser->windowTitle(), "E-Mail-Ordner w\u00e4hlen");
    ChangeLanguage("English", mail.temp.path());
    EXPECT_EQ(chooser->windowTitle(), "Choose an email folder") << "not the loading caption";
    EXPECT_EQ(chooser->findChild<QLabel*>("Label9")->text(), "&New folder:");
    SetStringLoader(nullptr);
}

TEST(FolderTreeModel, PathsJoinTheNodeTextsFromTheStore) {
    FolderTreeModel::Node store;
    store.text = "Mailbox";
    FolderTreeModel::Node inbox;
    inbox.text = "Inbox";
    inbox.parent = &store;
    FolderTreeModel::Node sub;
    sub.text = "Sub";
    sub.parent = &inbox;
    EXPECT_EQ(FolderTreeModel::PathOf(sub), "Mailbox\\Inbox\\Sub");
    EXPECT_EQ(FolderTreeModel::PathOf(store), "Mailbox");
    ChosenFolder choice;
    EXPECT_FALSE(FolderTreeModel::ChoiceOf(sub, choice)); // no folder: nothing chosen
}

} // namespace
} // namespace qf::testing
