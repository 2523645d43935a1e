// The message window: an email found again by its identity, shown with its
// headers, bodies and attachments; attachments opened and saved where they
// belong; an email that moved away gives the mail error.
#include "support/maildir_fixture.h"

#include "app/desktop/message/message_window.h"
#include "common/fileio.h"
#include "i18n/loadstrings.h"
#include "mail/session.h"
#include "platform/messaging/entryid.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

namespace qf::testing {
namespace {

using desktop::MessageWindow;

const char* const kHtmlMail = "From: Ann Applicant <ann@example.org>\n"
                              "To: jobs@brindle.example\n"
                              "Cc: hr@brindle.example\n"
                              "Subject: Application with HTML\n"
                              "Date: Tue, 01 Dec 2026 09:00:00 +0000\n"
                              "MIME-Version: 1.0\n"
                              "Content-Type: multipart/mixed; boundary=\"b\"\n\n"
                              "--b\nContent-Type: multipart/alternative; boundary=\"a\"\n\n"
                              "--a\nContent-Type: text/plain; charset=utf-8\n\nPlain words\n"
                              "--a\nContent-Type: text/html; charset=utf-8\n\n"
                              "<p>Rich <b>words</b><img src=\"http://tracker.example/x.png\"></p>\n"
                              "--a--\n"
                              "--b\nContent-Type: application/octet-stream\n"
                              "Content-Disposition: attachment; filename=\"../../escape.txt\"\n\n"
                              "attached bytes\n--b--\n";

class MessageWindowTest : public ::testing::Test {
protected:
    MaildirFixture mail;
    MapiSession session;

    // The identity an exception row keeps for the only email in the inbox.
    std::pair<std::string, std::string> Identity() {
        session.ListStores();
        MailStore& store = *session.Stores().at(0).second;
        mapi::EntryId storeId = store.EntryIdBytes();
        auto parts = mapi::ParseEntryId(storeId);
        const std::string file = std::filesystem::path(mail.Messages().at(0)).filename();
        const mapi::EntryId emailId =
            mapi::MakeMessageEntryId(parts->store, "", file.substr(0, file.find(':')));
        return {std::string(storeId.begin(), storeId.end()),
                std::string(emailId.begin(), emailId.end())};
    }
};

TEST_F(MessageWindowTest, ShowsHeadersBodiesAndAttachmentsReadOnly) {
    mail.DeliverRaw(kHtmlMail);
    const auto [store, email] = Identity();
    std::unique_ptr<MessageWindow> w(MessageWindow::Open(session, store, email));
    EXPECT_EQ(w->windowTitle(), "Application with HTML");
    EXPECT_EQ(w->HeaderText("From"), "Ann Applicant <ann@example.org>");
    EXPECT_EQ(w->HeaderText("To"), "jobs@brindle.example");
    EXPECT_EQ(w->HeaderText("Cc"), "hr@brindle.example");
    EXPECT_FALSE(w->HeaderText("Date").isEmpty());
    EXPECT_EQ(w->HeaderText("Subject"), "Application with HTML");
    EXPECT_TRUE(w->BodyText().contains("Plain words"));
    EXPECT_NE(w->Content().htmlBody.find("<b>words</b>"), std::string::npos);
    ASSERT_EQ(w->AttachmentList()->count(), 1);
    EXPECT_TRUE(w->AttachmentList()->item(0)->text().contains("escape.txt"));
}

TEST_F(MessageWindowTest, AttachmentsOpenFromAPrivateFolderAndSaveWhereTheUserSays) {
    mail.DeliverRaw(kHtmlMail);
    const auto [store, email] = Identity();
    std::unique_ptr<MessageWindow> w(MessageWindow::Open(session, store, email));
    std::vector<std::string> opened;
    std::vector<QString> errors;
    const std::string target = mail.temp.path() + "saved.bin";
    w->SetHooks({[&](QWidget*, const QString& suggested) {
                     EXPECT_EQ(suggested, "escape.txt");
                     return QString::fromStdString(target);
                 },
                 [&](const std::string& path) { opened.push_back(path); },
                 [&](QWidget*, const QString& t) { errors.push_back(t); }});
    const std::string path = w->OpenAttachment(0);
    ASSERT_EQ(opened, std::vector<std::string>{path});
    // The name from the email never leads out of the private folder.
    EXPECT_EQ(std::filesystem::path(path).filename(), "escape.txt");
    EXPECT_EQ(ReadFileBytes(path), "attached bytes");
    EXPECT_EQ(w->SaveAttachmentAs(0), target);
    EXPECT_EQ(ReadFileBytes(target), "attached bytes");
    EXPECT_TRUE(errors.empty());
    // The private folder goes with the window.
    w.reset();
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(MessageWindowTest, AnEmailThatMovedAwayGivesTheMailError) {
    mail.DeliverRaw(kHtmlMail);
    const auto [store, email] = Identity();
    mail.MakeFolder("Elsewhere");
    const std::string file = mail.Messages().at(0);
    std::filesystem::rename(file, mail.FolderPath("Elsewhere") + "/cur/" +
                                      std::filesystem::path(file).filename().string());
    try {
        delete MessageWindow::Open(session, store, email);
        FAIL() << "opened an email that is not there";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Position:360 MAPI_E_NOT_FOUND", 0), 0u) << e.what();
    }
    // Identities that name nothing are refused the same way, never opened.
    EXPECT_THROW(MessageWindow::Open(session, "", ""), std::exception);
    EXPECT_THROW(MessageWindow::Open(session, store, "garbage"), std::exception);
}

TEST_F(MessageWindowTest, CaptionsAreTranslatedWhileTheEmailsTextsStayAsTheyAre) {
    mail.DeliverRaw(kHtmlMail);
    const auto [store, email] = Identity();
    const std::string home = mail.temp.path();
    std::filesystem::create_directories(home + "Languages");
    WriteFileAtomic(home + "Languages/German.ini",
                    "[TMessageForm]\nFromLabel.Caption=Von:\nFrom.Caption=Fremd\n"
                    "MessageForm.Caption=(kein Betreff)\nopenButton.Caption=\xC3\x96&ffnen\n");
    InstallLanguage("German", home);
    std::unique_ptr<MessageWindow> w(MessageWindow::Open(session, store, email));
    EXPECT_EQ(w->findChild<QLabel*>("FromLabel")->text(), "Von:");
    EXPECT_EQ(w->findChild<QPushButton*>("openButton")->text(), "\u00d6&ffnen");
    EXPECT_EQ(w->HeaderText("From"), "Ann Applicant <ann@example.org>");
    EXPECT_EQ(w->windowTitle(), "Application with HTML") << "the subject, not a caption";
    MessageWindow untitled(EmailContent{});
    EXPECT_EQ(untitled.windowTitle(), "(kein Betreff)");

    // Recording English takes the captions, never what the email says.
    InstallLanguage("English", home);
    std::unique_ptr<MessageWindow> english(MessageWindow::Open(session, store, email));
    const std::string recorded = ReadFileBytes(home + "Languages/English.ini");
    EXPECT_NE(recorded.find("FromLabel.Caption=From:"), std::string::npos);
    EXPECT_NE(recorded.find("saveDialog.Title=Save Attachment As"), std::string::npos);
    for (const char* data : {"ann@example.org", "Application with HTML", "From.Caption"}) {
        EXPECT_EQ(recorded.find(data), std::string::npos) << data;
    }
    SetStringLoader(nullptr);
}

TEST(SafeAttachmentFileName, KeepsOnlyAPlainNameInsideTheFolder) {
    EXPECT_EQ(SafeAttachmentFileName("cv.doc", false), "cv.doc");
    EXPECT_EQ(SafeAttachmentFileName("../../etc/passwd", false), "passwd");
    EXPECT_EQ(SafeAttachmentFileName("C:\\Users\\ann\\cv.doc", false), "cv.doc");
    EXPECT_EQ(SafeAttachmentFileName("a\tb\x01.txt", false), "a_b_.txt");
    EXPECT_EQ(SafeAttachmentFileName("..", false), "attachment");
    EXPECT_EQ(SafeAttachmentFileName("dir/", false), "attachment");
    EXPECT_EQ(SafeAttachmentFileName(".txt", true), "attachment.txt");
    EXPECT_EQ(SafeAttachmentFileName("Re: offer/plan.txt", true), "plan.txt");
}

} // namespace
} // namespace qf::testing
