// The mail layer over real stores through the real messaging platform, each
// case twice: over a Maildir++ tree read directly, and over the same tree served
// by a private Dovecot as an IMAP account.  Profiles and logon, stores,
// folders, listing, properties of varied real-looking messages, changes that
// survive a re-read, moves, and the errors of crafted identifiers and vanished
// folders.
#include "mail/email.h"
#include "mail/folder_tree.h"
#include "mail/mail_error.h"
#include "mail/session.h"
#include "mail/store.h"
#include "platform/messaging/entryid.h"
#include "platform/messaging/profiles.h"
#include "support/dovecot_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace qf {
namespace {

namespace fs = std::filesystem;
using namespace qf::mapi;

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "<no error>";
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

void MakeMaildir(const fs::path& dir) {
    for (const char* sub : {"cur", "new", "tmp"}) {
        fs::create_directories(dir / sub);
    }
}

// Files of a Maildir folder (cur and new).
std::vector<fs::path> FilesOf(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const char* sub : {"cur", "new"}) {
        for (const auto& e : fs::directory_iterator(dir / sub)) {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Records the nodes the folder tree adds, with the folders they carry.
struct RecordingSink : FolderTreeSink {
    struct Node {
        std::string text;
        FolderTreeNode parent = 0;
        std::unique_ptr<MailFolder> folder;
    };
    std::vector<Node> nodes;

    FolderTreeNode AddRootNode(const std::string& text, std::unique_ptr<MailFolder> f) override {
        nodes.push_back({text, 0, std::move(f)});
        return nodes.size();
    }
    FolderTreeNode AddFolderNode(const std::string& name, FolderTreeNode parent,
                                 std::unique_ptr<MailFolder> f) override {
        nodes.push_back({name, parent, std::move(f)});
        return nodes.size();
    }
    void SetNodeText(FolderTreeNode node, const std::string& text) override {
        nodes.at(node - 1).text = text;
    }
    void ExpandNode(FolderTreeNode) override {}

    // "Root\Child\Grandchild" paths of every node.
    std::string PathOf(FolderTreeNode node) const {
        const Node& n = nodes.at(node - 1);
        return n.parent == 0 ? n.text : PathOf(n.parent) + "\\" + n.text;
    }
    MailFolder* Find(const std::string& path) const {
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            if (PathOf(i + 1) == path) {
                return nodes[i].folder.get();
            }
        }
        return nullptr;
    }
};

// Where the mail of the profile's first store is read from.
enum class Backend { Maildir, Imap };

class StoredMail : public ::testing::TestWithParam<Backend> {
protected:
    bool OverImap() const { return GetParam() == Backend::Imap; }

    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir = fs::temp_directory_path() /
              ("qf_mail_stores_" + std::to_string(::getpid()) + "_" + name);
        fs::remove_all(dir);
        root = dir / "Maildir";
        MakeMaildir(root);
        MakeMaildir(root / ".Archive");
        MakeMaildir(root / ".Jobs");
        MakeMaildir(root / ".Jobs.Applied");
        MakeMaildir(dir / "Second");
        MakeMaildir(dir / "Locked");
        profiles = dir / "profiles.ini";
        std::string first = "store = maildir | Personal Folders | " + root.string() + "\n";
        if (OverImap()) {
            ::chmod(dir.c_str(), 0755);
            server = std::make_unique<qf::testing::DovecotServer>(root.string());
            std::string why;
            ASSERT_TRUE(server->Start(why)) << why;
            first = server->StoreLines();
        }
        WriteFile(profiles, "[profile Main]\n"
                            "default = yes\n" +
                                first + "store = maildir | Second | " + (dir / "Second").string() +
                                "\n"
                                "[profile Locked]\n"
                                "password = s3cret\n"
                                "store = maildir | Locked Store | " +
                                (dir / "Locked").string() + "\n");
        ::chmod(profiles.c_str(), 0600);
        ::setenv("QUILLFENCE_PROFILES", profiles.c_str(), 1);
        session = std::make_unique<MapiSession>();
    }

    void TearDown() override {
        SetProfileChooser(nullptr);
        emails.clear();
        inboxRef = {};
        session.reset();
        server.reset();
        ::unsetenv("QUILLFENCE_PROFILES");
        fs::remove_all(dir);
    }

    // Delivers a message into a folder's cur/ with the given flags.
    void Deliver(const fs::path& folder, const std::string& unique, const std::string& bytes,
                 const std::string& flags = "") {
        WriteFile(folder / "cur" / (unique + ":2," + flags), bytes);
        if (server) {
            server->GiveMailToServer();
        }
    }

    // The inbox of the default store, listed.
    std::vector<std::unique_ptr<EmailMessage>>& ListInbox() {
        inboxRef = MakeEmptyFolderReference(session.get());
        inboxRef.store->Assign(*session->OpenDefaultStore());
        inboxRef.folder->UseDefaultInbox();
        inboxRef.folder->ListEmails(emails);
        return emails;
    }

    EmailMessage* BySubject(const std::string& subject) {
        for (auto& e : emails) {
            if (e->subject == subject) {
                return e.get();
            }
        }
        return nullptr;
    }

    fs::path dir, root, profiles;
    std::unique_ptr<qf::testing::DovecotServer> server;
    std::unique_ptr<MapiSession> session;
    OpenedFolderReference inboxRef;
    std::vector<std::unique_ptr<EmailMessage>> emails;
};

std::string SimpleMessage(const std::string& subject, const std::string& date,
                          const std::string& body = "Hello.\n") {
    return "From: Ann Applicant <ann@example.org>\n"
           "To: Jobs <jobs@example.com>\n"
           "Subject: " +
           subject +
           "\n"
           "Date: " +
           date +
           "\n"
           "Message-ID: <" +
           subject + "@example.org>\n\n" + body;
}

// ---------------------------------------------------------------------------

TEST_P(StoredMail, LogonInEveryMode) {
    // Mode 0: the default profile and its stores.
    session->ListStores();
    ASSERT_EQ(session->Stores().size(), 2u);
    EXPECT_EQ(session->Stores()[0].first, "Personal Folders");
    EXPECT_EQ(session->Stores()[1].first, "Second");
    EXPECT_TRUE(session->LoggedOn());

    // Mode 1: the chooser answers; cancelling and having no chooser fail with "40".
    std::vector<std::string> offered;
    SetProfileChooser([&](const std::vector<std::string>& names, const std::string&) {
        offered = names;
        return std::optional<ProfileChoice>(ProfileChoice{"Locked", "s3cret"});
    });
    session->SetLogonParameters(1, "", "");
    EXPECT_FALSE(session->LoggedOn());
    session->ListStores();
    EXPECT_EQ(offered, (std::vector<std::string>{"Main", "Locked"}));
    ASSERT_EQ(session->Stores().size(), 1u);
    EXPECT_EQ(session->Stores()[0].first, "Locked Store");
    SetProfileChooser([](const auto&, const auto&) { return std::optional<ProfileChoice>(); });
    EXPECT_EQ(MessageOf([&] { session->Logon(); }), "Position:40 " + ErrorText(MAPI_E_USER_CANCEL));
    SetProfileChooser(nullptr);
    EXPECT_EQ(MessageOf([&] { session->Logon(); }),
              "Position:40 " + ErrorText(MAPI_E_LOGON_FAILED));

    // Mode 2: the named profile with its password.
    session->SetLogonParameters(2, "Locked", "wrong");
    EXPECT_EQ(MessageOf([&] { session->GetSession(); }),
              "Position:40 " + ErrorText(MAPI_E_LOGON_FAILED));
    session->SetLogonParameters(2, "Locked", "s3cret");
    MailStore* store = session->OpenDefaultStore();
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(store->IsOpen());

    // A mode outside 0 to 2 never reaches an absent session.
    session->SetLogonParameters(3, "", "");
    EXPECT_EQ(MessageOf([&] { session->OpenDefaultStore(); }),
              "Position:40 " + ErrorText(MAPI_E_LOGON_FAILED));
}

TEST_P(StoredMail, DefaultStoreInboxAndFolderTree) {
    Deliver(root, "1000.a.host", SimpleMessage("In the inbox", "Mon, 2 Mar 2026 10:00:00 +0000"));
    Deliver(root / ".Jobs.Applied", "1000.b.host",
            SimpleMessage("Applied", "Mon, 2 Mar 2026 11:00:00 +0000"));
    ASSERT_EQ(ListInbox().size(), 1u);
    EXPECT_EQ(emails[0]->subject, "In the inbox");
    EXPECT_EQ(session->Stores()[0].first, "Default");

    RecordingSink sink;
    BuildFolderTree(*session, sink);
    ASSERT_NE(sink.Find("Personal Folders"), nullptr);
    ASSERT_NE(sink.Find("Second"), nullptr);
    MailFolder* applied = sink.Find("Personal Folders\\Jobs\\Applied");
    ASSERT_NE(applied, nullptr) << sink.nodes.size();
    EXPECT_NE(sink.Find("Personal Folders\\Archive"), nullptr);
    std::vector<std::unique_ptr<EmailMessage>> list;
    applied->ListEmails(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->subject, "Applied");

    // The settings record keeps the identifiers as bytes: they name the same folder.
    auto ref = MakeFolderReference(session.get(), applied->Store()->DisplayName(),
                                   applied->Store()->EntryIdBytes(), applied->EntryIdBytes());
    ref.folder->ListEmails(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_GE(ref.StoreEntryId().size(), 24u);
}

TEST_P(StoredMail, SixtyEmailsListInSubmitOrderIn25RowBatches) {
    for (int i = 0; i < 60; ++i) {
        const int minute = (i * 37) % 60; // files written out of date order
        char date[64];
        std::snprintf(date, sizeof date, "Tue, 3 Mar 2026 09:%02d:00 +0000", minute);
        Deliver(root, "17000" + std::to_string(i) + ".x.host",
                SimpleMessage("Minute " + std::to_string(minute), date));
    }
    ASSERT_EQ(ListInbox().size(), 60u);
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(emails[static_cast<std::size_t>(i)]->subject, "Minute " + std::to_string(i));
    }
    // The same sequence of calls ListEmails makes, on the real table.
    std::shared_ptr<IMsgStore> store = inboxRef.store->GetMsgStore();
    std::shared_ptr<IMAPITable> table;
    ASSERT_EQ(inboxRef.folder->OpenFolder(store)->GetContentsTable(0, table), S_OK);
    ASSERT_EQ(table->SetColumns(MessageColumns(), 0), S_OK);
    ASSERT_EQ(table->SortTable({{PR_CLIENT_SUBMIT_TIME, TABLE_SORT_ASCEND}}, 0), S_OK);
    std::vector<std::size_t> batches;
    for (;;) {
        RowSet rows;
        ASSERT_EQ(table->QueryRows(25, 0, rows), S_OK);
        batches.push_back(rows.size());
        if (rows.empty()) {
            break;
        }
    }
    EXPECT_EQ(batches, (std::vector<std::size_t>{25, 25, 10, 0}));
}

TEST_P(StoredMail, PropertiesOfVariedMessages) {
    Deliver(root, "1.plain.host",
            "From: \"Ann Applicant\" <ann@example.org>\n"
            "To: Jobs <jobs@example.com>, bob@example.com\n"
            "Cc: Carol <carol@example.com>\n"
            "Subject: Re: Application\n"
            "Date: Wed, 4 Mar 2026 08:00:00 +0000\n\n"
            "Dear team,\nplease find my application.\n");
    Deliver(root, "2.encoded.host",
            "From: =?ISO-8859-1?Q?Ren=E9?= <rene@example.fr>\n"
            "To: jobs@example.com\n"
            "Subject: =?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=\n"
            "Date: Wed, 4 Mar 2026 09:00:00 +0000\n"
            "MIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=ISO-8859-1\n"
            "Content-Transfer-Encoding: quoted-printable\n\n"
            "Cr=E8me br=FBl=E9e\n");
    Deliver(root, "3.alt.host",
            "From: x@example.org\nTo: jobs@example.com\nSubject: Alternative\n"
            "Date: Wed, 4 Mar 2026 10:00:00 +0000\nMIME-Version: 1.0\n"
            "Content-Type: multipart/alternative; boundary=\"b1\"\n\n"
            "--b1\nContent-Type: text/plain; charset=utf-8\n\nplain part\n"
            "--b1\nContent-Type: text/html; charset=utf-8\n\n<p>html part</p>\n--b1--\n");
    Deliver(root, "4.html.host",
            "From: y@example.org\nTo: jobs@example.com\nSubject: HTML only\n"
            "Date: Wed, 4 Mar 2026 11:00:00 +0000\nMIME-Version: 1.0\n"
            "Content-Type: text/html; charset=utf-8\n\n"
            "<html><body><p>Hello <b>world</b></p></body></html>\n");
    Deliver(root, "5.attach.host",
            "From: z@example.org\nTo: jobs@example.com\nSubject: With CV\n"
            "Date: Wed, 4 Mar 2026 12:00:00 +0000\nMIME-Version: 1.0\n"
            "Content-Type: multipart/mixed; boundary=\"m1\"\n\n"
            "--m1\nContent-Type: text/plain\n\nSee attached.\n"
            "--m1\nContent-Type: application/octet-stream\n"
            "Content-Disposition: attachment; filename*=UTF-8''Lebenslauf%20J%C3%BCrgen.pdf\n"
            "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQKJcOkw7w=\n"
            "--m1\nContent-Type: message/rfc822\n\n"
            "From: ref@example.org\nTo: z@example.org\nSubject: Reference letter\n"
            "Date: Tue, 3 Mar 2026 12:00:00 +0000\nMIME-Version: 1.0\n"
            "Content-Type: multipart/mixed; boundary=\"inner\"\n\n"
            "--inner\nContent-Type: text/plain\n\nShe is great.\n"
            "--inner\nContent-Type: text/plain; name=\"letter.txt\"\n"
            "Content-Disposition: attachment; filename=\"letter.txt\"\n\nsigned letter\n"
            "--inner--\n"
            "--m1--\n");
    Deliver(root, "6.nohead.host", "just some text without headers\n");
    Deliver(root, "7.nobody.host",
            "From: q@example.org\nTo: jobs@example.com\nSubject: No body\n"
            "Date: Wed, 4 Mar 2026 13:00:00 +0000\n\n");
    Deliver(root, "8.broken.host",
            "From: w@example.org\nTo: jobs@example.com\nSubject: Broken boundary\n"
            "Date: Wed, 4 Mar 2026 14:00:00 +0000\nMIME-Version: 1.0\n"
            "Content-Type: multipart/mixed; boundary=\"never\"\n\n"
            "text where the boundary never comes\n");
    ASSERT_EQ(ListInbox().size(), 8u);

    EmailMessage* plain = BySubject("Re: Application");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->FieldValue("FROM"), "ann@example.org");
    EXPECT_EQ(plain->FieldValue("To"), "Jobs; bob@example.com");
    EXPECT_EQ(plain->FieldValue("cc"), "Carol");
    EXPECT_EQ(plain->FieldValue("BCC"), "");
    EXPECT_EQ(plain->SubjectWithoutPrefix(), "Application");
    EXPECT_FALSE(plain->hasAttachments);
    EXPECT_EQ(plain->ReadBody(), "Dear team,\nplease find my application.\n");
    EXPECT_EQ(plain->messageFlags & MSGFLAG_READ, 0u);
    const DateTimeParts sent = DecodeDateTime(plain->deliveryTime);
    EXPECT_EQ(sent.year, 2026);
    EXPECT_EQ(sent.month, 3);
    EXPECT_GT(plain->messageSize, 0);

    EmailMessage* encoded = BySubject("Grüße aus Köln");
    ASSERT_NE(encoded, nullptr);
    EXPECT_EQ(encoded->senderAddress, "rene@example.fr");
    EXPECT_EQ(encoded->ReadBody(), "Crème brûlée\n");

    EXPECT_EQ(BySubject("Alternative")->ReadBody().substr(0, 10), "plain part");
    EXPECT_NE(BySubject("HTML only")->ReadBody().find("Hello world"), std::string::npos);
    EXPECT_EQ(BySubject("No body")->ReadBody(), "");
    EXPECT_NE(BySubject("Broken boundary")->ReadBody().find("boundary never comes"),
              std::string::npos);
    EmailMessage* noHeaders = BySubject("");
    ASSERT_NE(noHeaders, nullptr);
    EXPECT_EQ(noHeaders->FieldValue("FROM"), "");
    EXPECT_NE(noHeaders->ReadBody().find("without headers"), std::string::npos);

    EmailMessage* withCv = BySubject("With CV");
    ASSERT_NE(withCv, nullptr);
    EXPECT_TRUE(withCv->hasAttachments);
    std::vector<std::unique_ptr<Attachment>> attachments;
    withCv->ListAttachments(attachments);
    ASSERT_EQ(attachments.size(), 2u);
    EXPECT_EQ(attachments[0]->fileName, "Lebenslauf Jürgen.pdf");
    EXPECT_EQ(attachments[0]->FieldValue("S"), "Lebenslauf Jürgen.pdf");
    EXPECT_EQ(attachments[0]->FieldValue("SUBJECT"), "With CV");
    EXPECT_EQ(attachments[1]->fileName, "Reference letter.txt");
    EXPECT_EQ(attachments[1]->attachMethod, static_cast<std::int32_t>(ATTACH_EMBEDDED_MSG));
    attachments[0]->SaveContentToFile(nullptr, (dir / "cv.pdf").string());
    EXPECT_EQ(ReadFile(dir / "cv.pdf"), "%PDF-1.4\n%\xC3\xA4\xC3\xBC");
    // A link in the way is refused, unless the caller asks to write through it.
    fs::create_symlink("elsewhere.pdf", dir / "link.pdf");
    EXPECT_THROW(attachments[0]->SaveContentToFile(nullptr, (dir / "link.pdf").string()), Error);
    EXPECT_FALSE(fs::exists(dir / "elsewhere.pdf"));
    attachments[0]->SaveContentToFile(nullptr, (dir / "link.pdf").string(), FollowLinks::Yes);
    EXPECT_TRUE(fs::is_symlink(dir / "link.pdf"));
    EXPECT_EQ(ReadFile(dir / "elsewhere.pdf"), ReadFile(dir / "cv.pdf"));
    attachments[1]->SaveContentToFile(nullptr, (dir / "ref.txt").string());
    EXPECT_NE(ReadFile(dir / "ref.txt").find("She is great."), std::string::npos);

    auto embedded = withCv->OpenEmbedded(attachments[1]->attachNumber);
    EXPECT_EQ(embedded->subject, "Reference letter");
    EXPECT_EQ(embedded->senderAddress, "ref@example.org");
    EXPECT_TRUE(embedded->hasAttachments);
    std::vector<std::unique_ptr<Attachment>> inner;
    embedded->ListAttachments(inner);
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner[0]->fileName, "letter.txt");
    EXPECT_EQ(inner[0]->ReadContent(nullptr), "signed letter");
    EXPECT_NE(embedded->ReadBody().find("She is great."), std::string::npos);
}

TEST_P(StoredMail, ChangesSurviveARereadAndMovesLand) {
    Deliver(root, "1.a.host",
            SimpleMessage("Offer", "Thu, 5 Mar 2026 08:00:00 +0000", "Body one.\n"));
    Deliver(root, "2.b.host", SimpleMessage("Second", "Thu, 5 Mar 2026 09:00:00 +0000"));
    ASSERT_EQ(ListInbox().size(), 2u);
    EmailMessage& offer = *emails[0];
    offer.MarkRead();
    offer.SetSubject("[done] " + offer.subject);
    EXPECT_EQ(offer.subject, "Offer");
    offer.WriteBody("Note: handle by hand.\r\n" + offer.ReadBody());

    RecordingSink sink;
    BuildFolderTree(*session, sink);
    MailFolder* archive = sink.Find("Personal Folders\\Archive");
    ASSERT_NE(archive, nullptr);
    archive->OpenFolder(archive->Store()->GetMsgStore());
    inboxRef.folder->MoveEmail(*emails[1], *archive);

    // A fresh session sees every change.
    emails.clear();
    inboxRef = {};
    sink.nodes.clear();
    session = std::make_unique<MapiSession>();
    ASSERT_EQ(ListInbox().size(), 1u);
    EXPECT_EQ(emails[0]->subject, "[done] Offer");
    EXPECT_EQ(emails[0]->ReadBody(), "Note: handle by hand.\r\nBody one.\n");
    EXPECT_NE(emails[0]->messageFlags & MSGFLAG_READ, 0u);
    EXPECT_EQ(FilesOf(root).size(), 1u); // changed in place: exactly once
    ASSERT_EQ(FilesOf(root / ".Archive").size(), 1u);
    EXPECT_NE(ReadFile(FilesOf(root / ".Archive")[0]).find("Subject: Second"), std::string::npos);
}

TEST_P(StoredMail, ChangeAfterAnotherProgramRenamedTheFile) {
    if (OverImap()) {
        GTEST_SKIP() << "renaming a file is how a Maildir client flags a message";
    }
    Deliver(root, "1.a.host", SimpleMessage("Offer", "Thu, 5 Mar 2026 08:00:00 +0000"));
    ASSERT_EQ(ListInbox().size(), 1u);
    EmailMessage& offer = *emails[0];
    offer.OpenMessage();
    // A mail client flags the message meanwhile.
    const fs::path file = FilesOf(root)[0];
    fs::rename(file, file.string() + "F");
    offer.SetSubject("[done] Offer");
    const auto files = FilesOf(root);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(ReadFile(files[0]).find("Subject: [done] Offer"), std::string::npos);
    EXPECT_EQ(files[0].string().back(), 'F') << files[0]; // their change survives
}

TEST_P(StoredMail, ConcurrentRewriteIsKeptAndOurChangeApplied) {
    Deliver(root, "1.a.host", SimpleMessage("Offer", "Thu, 5 Mar 2026 08:00:00 +0000", "Old.\n"));
    ASSERT_EQ(ListInbox().size(), 1u);
    EmailMessage& ours = *emails[0];
    const std::string body = ours.ReadBody();
    // Another writer (here a second listing of the same folder) rewrites the email.
    auto other =
        MakeFolderReference(session.get(), "Personal Folders", inboxRef.store->EntryIdBytes(),
                            inboxRef.folder->EntryIdBytes());
    std::vector<std::unique_ptr<EmailMessage>> theirs;
    other.folder->ListEmails(theirs);
    ASSERT_EQ(theirs.size(), 1u);
    theirs[0]->SetSubject("[tagged] Offer");
    // Our body change meets the changed message: it is applied to their version.
    ours.WriteBody("Note.\n" + body);
    const auto files = FilesOf(root);
    ASSERT_EQ(files.size(), 1u);
    const std::string bytes = ReadFile(files[0]);
    EXPECT_NE(bytes.find("Subject: [tagged] Offer"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("Note.\nOld.\n"), std::string::npos) << bytes;

    // The same when ours was only opened, and for a subject change.
    ListInbox();
    emails[0]->OpenMessage();
    other.folder->ListEmails(theirs);
    theirs[0]->SetSubject("[again] Offer");
    emails[0]->WriteBody("Second note.\n");
    emails[0]->OpenMessage();
    theirs[0]->WriteBody("Their body.\n");
    emails[0]->SetSubject("[ours] Offer");
    ASSERT_EQ(FilesOf(root).size(), 1u);
    const std::string after = ReadFile(FilesOf(root)[0]);
    EXPECT_NE(after.find("Subject: [ours] Offer"), std::string::npos) << after;
    EXPECT_NE(after.find("Their body."), std::string::npos) << after;

    // A message that is gone: the save names its step, nothing reappears.
    ListInbox();
    emails[0]->OpenMessage();
    fs::remove(FilesOf(root)[0]);
    const std::string gone = MessageOf([&] { emails[0]->SetSubject("x"); });
    EXPECT_EQ(gone.rfind("Position:230.5 MAPI_E_OBJECT_DELETED", 0), 0u) << gone;
    EXPECT_TRUE(FilesOf(root).empty());
}

TEST_P(StoredMail, ATagOrNoteMadeAgainAfterAConflictGoesBeforeTheFreshValue) {
    if (OverImap()) {
        // An IMAP message changed twice by another client is a new message
        // the old one no longer leads to: the change fails as "deleted".
        GTEST_SKIP() << "a message replaced twice elsewhere is reported gone over IMAP";
    }
    Deliver(root, "1.a.host", SimpleMessage("Offer", "Thu, 5 Mar 2026 08:00:00 +0000", "Old.\n"));
    ASSERT_EQ(ListInbox().size(), 1u);
    auto other =
        MakeFolderReference(session.get(), "Personal Folders", inboxRef.store->EntryIdBytes(),
                            inboxRef.folder->EntryIdBytes());
    std::vector<std::unique_ptr<EmailMessage>> theirs;

    // Ours was read; then another writer changes the subject and the body.
    EmailMessage& ours = *emails[0];
    EXPECT_EQ(ours.ReadBody(), "Old.\n");
    other.folder->ListEmails(theirs);
    theirs[0]->SetSubject("Offer (revised)");
    theirs[0]->WriteBody("Revised.\n");
    ours.PrependToBody("Note.\n");
    ours.TagSubject("[done] ");
    ASSERT_EQ(FilesOf(root).size(), 1u);
    const std::string bytes = ReadFile(FilesOf(root)[0]);
    EXPECT_NE(bytes.find("Subject: [done] Offer (revised)"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("Note.\nRevised.\n"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("Old."), std::string::npos) << bytes;

    // Without a conflict they go before the value as it stands.
    ListInbox();
    emails[0]->TagSubject("[again] ");
    emails[0]->PrependToBody("Second note.\n");
    const std::string after = ReadFile(FilesOf(root)[0]);
    EXPECT_NE(after.find("Subject: [again] [done] Offer (revised)"), std::string::npos) << after;
    EXPECT_NE(after.find("Second note.\nNote.\nRevised.\n"), std::string::npos) << after;
}

TEST_P(StoredMail, CraftedAndStaleIdentifiersAreRefused) {
    Deliver(root, "1.a.host", SimpleMessage("Offer", "Thu, 5 Mar 2026 08:00:00 +0000"));
    ASSERT_EQ(ListInbox().size(), 1u);
    const auto storeId = inboxRef.store->EntryIdBytes();

    // A folder identifier naming a path outside the store.
    for (const std::string name : {"../../etc", "/etc", ".Archive/../../x", "..", ".a/b"}) {
        std::vector<std::uint8_t> id(inboxRef.folder->EntryIdBytes().begin(),
                                     inboxRef.folder->EntryIdBytes().begin() + 24);
        id[4] = 2; // a folder
        id.push_back(static_cast<std::uint8_t>(name.size()));
        id.push_back(0);
        id.insert(id.end(), name.begin(), name.end());
        auto ref = MakeFolderReference(session.get(), "Personal Folders", storeId, id);
        std::vector<std::unique_ptr<EmailMessage>> list;
        EXPECT_EQ(MessageOf([&] { ref.folder->ListEmails(list); }).substr(0, 33),
                  "Position:130 MAPI_E_INVALID_ENTRY")
            << name;
    }
    // Garbage and an empty reference.
    auto garbage = MakeFolderReference(session.get(), "Personal Folders", storeId,
                                       std::vector<std::uint8_t>(40, 0xAB));
    // The store tells what it refused.
    const std::string refused = MessageOf([&] { garbage.folder->ListEmails(emails); });
    EXPECT_NE(refused.find("\r\nDetails:\r\nError: "), std::string::npos) << refused;
    EXPECT_EQ(MessageOf([&] { garbage.folder->ListEmails(emails); }).substr(0, 13),
              "Position:130 ");
    auto empty = MakeEmptyFolderReference(session.get());
    EXPECT_EQ(MessageOf([&] { empty.folder->ListEmails(emails); }).substr(0, 41),
              std::string("Position:OpenMsgStore:") + MailStore::kEmptyReferenceName + " ");

    // A message identifier naming a file outside its folder.
    ListInbox();
    EmailMessage& offer = *emails[0];
    const auto parts = ParseEntryId(offer.messageEntryId->EntryIdBytes());
    ASSERT_TRUE(parts);
    offer.messageEntryId->Id().Assign(
        MakeMessageEntryId(parts->store, parts->folder, "../../../etc/passwd"));
    EXPECT_EQ(MessageOf([&] { offer.ReadBody(); }).substr(0, 13), "Position:360 ");
    EXPECT_EQ(offer.FieldValue("CC"), "Error");

    // The message vanished: reading it and moving it fail with their labels.
    ListInbox();
    fs::remove(FilesOf(root)[0]);
    EXPECT_EQ(MessageOf([&] { emails[0]->ReadBody(); }).substr(0, 13), "Position:360 ");
    RecordingSink sink;
    BuildFolderTree(*session, sink);
    MailFolder* archive = sink.Find("Personal Folders\\Archive");
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(MessageOf([&] { inboxRef.folder->MoveEmail(*emails[0], *archive); }).substr(0, 13),
              "Position:170 ");
}

TEST_P(StoredMail, MoveIntoAVanishedFolderLeavesTheEmail) {
    Deliver(root, "1.a.host", SimpleMessage("Offer", "Thu, 5 Mar 2026 08:00:00 +0000"));
    ASSERT_EQ(ListInbox().size(), 1u);
    RecordingSink sink;
    BuildFolderTree(*session, sink);
    MailFolder* archive = sink.Find("Personal Folders\\Archive");
    ASSERT_NE(archive, nullptr);
    fs::remove_all(root / ".Archive");
    const std::string message =
        MessageOf([&] { inboxRef.folder->MoveEmail(*emails[0], *archive); });
    EXPECT_TRUE(message.rfind("Position:130 ", 0) == 0 || message.rfind("Position:170 ", 0) == 0)
        << message;
    EXPECT_EQ(FilesOf(root).size(), 1u);
}

// Every message of the real-world corpus is listed and read without a crash.
TEST_P(StoredMail, RealWorldCorpusIsReadWhole) {
    const char* shared = std::getenv("QF_SHARED_DIR");
    const fs::path corpus =
        fs::path(shared != nullptr ? shared : "../shared") / "corpus" / "real-world";
    if (!fs::exists(corpus)) {
        GTEST_SKIP() << "no corpus at " << corpus;
    }
    int n = 0;
    for (const auto& e : fs::recursive_directory_iterator(corpus)) {
        if (e.is_regular_file() && e.path().extension() == ".eml") {
            Deliver(root, "100" + std::to_string(n++) + ".corpus.host", ReadFile(e.path()));
        }
    }
    ASSERT_GT(n, 50);
    ASSERT_EQ(ListInbox().size(), static_cast<std::size_t>(n));
    int attachmentsRead = 0;
    std::function<void(EmailMessage&, int)> readAll = [&](EmailMessage& email, int depth) {
        for (const char* field : {"SUBJECT", "FROM", "TO", "CC", "BCC", "SENT"}) {
            EXPECT_NE(email.FieldValue(field), "Error") << field;
        }
        EXPECT_NO_THROW(email.ReadBody());
        std::vector<std::unique_ptr<Attachment>> attachments;
        ASSERT_NO_THROW(email.ListAttachments(attachments));
        for (auto& a : attachments) {
            EXPECT_NO_THROW(a->ReadContent(nullptr)) << a->fileName;
            ++attachmentsRead;
            if (a->attachMethod == static_cast<std::int32_t>(ATTACH_EMBEDDED_MSG) && depth < 4) {
                std::unique_ptr<EmailMessage> inner;
                ASSERT_NO_THROW(inner = email.OpenEmbedded(a->attachNumber));
                readAll(*inner, depth + 1);
            }
        }
    };
    for (auto& email : emails) {
        SCOPED_TRACE(email->subject);
        readAll(*email, 0);
    }
    EXPECT_GT(attachmentsRead, 20);
}

INSTANTIATE_TEST_SUITE_P(Stores, StoredMail, ::testing::Values(Backend::Maildir, Backend::Imap),
                         [](const ::testing::TestParamInfo<Backend>& param) {
                             return param.param == Backend::Imap ? "Imap" : "Maildir";
                         });

} // namespace
} // namespace qf
