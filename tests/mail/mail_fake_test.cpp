// The mail layer over an in-memory platform that fails on demand: logon rules,
// store ownership, listing in batches, and the position label of every step
// whose failure a real store cannot be made to produce.
#include "fake_mapi.h"
#include "mail/email.h"
#include "mail/folder_tree.h"
#include "mail/mail_error.h"
#include "mail/session.h"
#include "mail/store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace qf {
namespace {

using namespace qf::fake;

const std::string kDetails = "\r\nDetails:\r\nError: it broke\r\nComponent: Fake store\r\n";

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "<no error>";
}

struct NoticeCatcher {
    std::vector<std::string> shown;
    StreamNoticeHook old;
    NoticeCatcher() {
        old = SetStreamNoticeHook(
            [this](const std::string&, const std::string& text) { shown.push_back(text); });
    }
    ~NoticeCatcher() { SetStreamNoticeHook(old); }
};

class FakeMail : public ::testing::Test {
protected:
    void SetUp() override {
        store = world.AddStore("Personal Folders");
        inbox = store->folders[0];
        archive = world.AddFolder(*store, "folder:archive");
        session = std::make_unique<MapiSession>(world.Entry());
    }

    // A listed email of the inbox (the first by submit time).
    EmailMessage& ListFirst() {
        ref = MakeFolderReference(session.get(), store->name, store->id, inbox->id);
        ref.folder->ListEmails(emails);
        return *emails.at(0);
    }

    World world;
    std::shared_ptr<StoreData> store;
    std::shared_ptr<FolderData> inbox, archive;
    std::unique_ptr<MapiSession> session;
    OpenedFolderReference ref;
    std::vector<std::unique_ptr<EmailMessage>> emails;
};

// ---------------------------------------------------------------------------
// Session

TEST(FakeSession, FailedInitialisationIsPosition30) {
    World world;
    world.faults.Fail("Initialize", MAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(MessageOf([&] { MapiSession s(world.Entry()); }),
              "Position:30 The MAPI profile provider has encountered an error.");
}

TEST_F(FakeMail, LogonModesPassTheirFlagsAndTexts) {
    struct Case {
        int mode;
        std::string name, password;
        std::uint32_t flags;
        std::string seenName, seenPassword;
    };
    const Case cases[] = {
        {0, "Work", "pw", 0x62, "<null>", "<null>"},
        {1, "Work", "pw", 0x33, "<null>", "<null>"},
        {2, "Work", "pw", 0x33, "Work", "pw"},
        {2, "", "", 0x33, "", ""}, // empty texts are given, not absent
    };
    for (const Case& c : cases) {
        session->SetLogonParameters(c.mode, c.name, c.password);
        session->Logon();
        EXPECT_EQ(world.lastLogonFlags, c.flags) << c.mode;
        EXPECT_EQ(world.lastProfileName, c.seenName) << c.mode;
        EXPECT_EQ(world.lastPassword, c.seenPassword) << c.mode;
        EXPECT_TRUE(session->LoggedOn());
    }
}

TEST_F(FakeMail, FailedLogonIsPosition40AndKeepsState) {
    world.faults.Fail("Logon", MAPI_E_USER_CANCEL, 0, true);
    session->SetLogonParameters(1, "", "");
    EXPECT_EQ(MessageOf([&] { session->GetSession(); }),
              "Position:40 The user canceled the operation, typically by choosing the Cancel "
              "button in a dialog box.");
    EXPECT_FALSE(session->LoggedOn());
    EXPECT_NE(session->GetSession(), nullptr); // the next use tries again
}

TEST_F(FakeMail, ModeOutsideRangeNeverHandsOutAnAbsentSession) {
    session->SetLogonParameters(7, "", "");
    session->Logon(); // counts as success
    EXPECT_TRUE(session->LoggedOn());
    EXPECT_FALSE(session->HasPlatformSession());
    const std::string logonFailed = "Position:40 " + ErrorText(MAPI_E_LOGON_FAILED);
    EXPECT_EQ(MessageOf([&] { session->GetSession(); }), logonFailed);
    EXPECT_EQ(MessageOf([&] { session->OpenDefaultStore(); }), logonFailed);
    EXPECT_EQ(MessageOf([&] { session->ListStores(); }), logonFailed);
    auto r = MakeFolderReference(session.get(), "S", store->id, inbox->id);
    EXPECT_EQ(MessageOf([&] { r.store->GetMsgStore(); }), logonFailed);
    EXPECT_EQ(world.logons, 0); // no platform call in that mode
}

TEST_F(FakeMail, ChangedParametersLogOffAndReleaseStores) {
    session->SetLogonParameters(2, "Work", "pw");
    ASSERT_NE(session->OpenDefaultStore(), nullptr);
    session->SetLogonParameters(2, "Work", "pw"); // same values: nothing happens
    EXPECT_TRUE(session->LoggedOn());
    EXPECT_EQ(session->Stores().size(), 1u);
    session->SetLogonParameters(2, "Home", "pw");
    EXPECT_FALSE(session->LoggedOn());
    EXPECT_TRUE(session->Stores().empty());
    EXPECT_EQ(world.storeLogoffs, 1);
    EXPECT_EQ(world.sessionLogoffs, 1);
    session->SetLogonParameters(2, "Home", "other"); // not logged on: only recorded
    EXPECT_EQ(world.sessionLogoffs, 1);
    EXPECT_EQ(session->Password(), "other");
}

TEST_F(FakeMail, DefaultStoreEntriesAccumulate) {
    MailStore* first = session->OpenDefaultStore();
    MailStore* second = session->OpenDefaultStore();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    EXPECT_TRUE(first->IsOpen());
    ASSERT_EQ(session->Stores().size(), 2u);
    EXPECT_EQ(session->Stores()[0].first, "Default");
    EXPECT_EQ(first->DisplayName(), "Default");
    session->ListStores();
    ASSERT_EQ(session->Stores().size(), 1u);
    EXPECT_EQ(session->Stores()[0].first, "Personal Folders");
    EXPECT_EQ(world.storeLogoffs, 2);
}

TEST_F(FakeMail, DefaultStoreLookupFailures) {
    store->isDefault = false;
    EXPECT_EQ(MessageOf([&] { session->OpenDefaultStore(); }),
              "Position:20.001 MAPI_E_CALL_FAILED\r\nDetails:\r\nError: it broke\r\n"
              "Component: Fake session\r\n");
    world.faults.Fail("Session.GetMsgStoresTable", MAPI_E_CALL_FAILED);
    EXPECT_EQ(session->OpenDefaultStore(), nullptr); // unreadable table: no store, no error
    world.faults.table.clear();
    world.faults.Fail("Session.OpenMsgStore", MAPI_E_NOT_FOUND);
    store->isDefault = true;
    EXPECT_EQ(MessageOf([&] { session->OpenDefaultStore(); }),
              "Position:OpenMsgStore:Default " + ErrorText(MAPI_E_NOT_FOUND) +
                  "\r\nDetails:\r\nError: it broke\r\nComponent: Fake session\r\n");
}

TEST_F(FakeMail, ListStoresSkipsRowsWithoutIdentifier) {
    world.AddStore("Archive")->hasEntryId = false;
    world.AddStore("Work");
    session->ListStores();
    ASSERT_EQ(session->Stores().size(), 2u);
    EXPECT_EQ(session->Stores()[1].first, "Work");
    EXPECT_EQ(session->Stores()[1].second->Session(), session.get());
    world.faults.Fail("Session.GetMsgStoresTable", MAPI_E_CALL_FAILED);
    session->ListStores();
    EXPECT_TRUE(session->Stores().empty());
}

// ---------------------------------------------------------------------------
// Stores and folders

TEST(MailReferences, KeepAtLeast24BytesAndNeverOverreadTheirSource) {
    MailStore s("x", nullptr, nullptr, 0);
    EXPECT_EQ(s.Id().Length(), 24u);
    EXPECT_TRUE(s.Id().IsBlank());
    const std::uint8_t shortId[3] = {1, 2, 3};
    MailFolder f(3, &s, shortId); // three bytes to read, kept as 24
    EXPECT_EQ(f.EntryIdBytes(), std::vector<std::uint8_t>({1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const std::vector<std::uint8_t> longId(40, 7);
    MailFolder g(&s, longId);
    EXPECT_EQ(g.EntryIdBytes(), longId);
    f.Assign(g);
    EXPECT_EQ(f.EntryIdBytes(), longId);
}

TEST_F(FakeMail, AssignCopiesIdentityOnly) {
    auto a = MakeFolderReference(session.get(), "A", store->id, inbox->id);
    auto b = MakeEmptyFolderReference(nullptr);
    b.folder->Assign(*a.folder);
    EXPECT_EQ(b.folder->EntryIdBytes(), a.folder->EntryIdBytes());
    EXPECT_EQ(b.folder->Store(), b.store.get());
    b.store->Assign(*a.store);
    EXPECT_EQ(b.store->DisplayName(), "A");
    EXPECT_EQ(b.store->Session(), nullptr);
    EXPECT_EQ(MessageOf([&] { b.store->GetMsgStore(); }), "No session");
    b.folder.reset(); // releasing a folder leaves its store alive
    EXPECT_EQ(b.store->DisplayName(), "A");
}

TEST_F(FakeMail, DefaultInbox) {
    auto r = MakeEmptyFolderReference(session.get());
    r.store->Assign(*session->OpenDefaultStore());
    r.folder->UseDefaultInbox();
    EXPECT_EQ(r.folder->EntryIdBytes(), inbox->id);
    store->inbox.clear();
    auto r2 = MakeFolderReference(session.get(), "P", store->id, {});
    EXPECT_EQ(MessageOf([&] { r2.folder->UseDefaultInbox(); }), "Failed to find default inbox");
}

TEST_F(FakeMail, SixtyEmailsAreReadInBatchesOf25InSubmitOrder) {
    for (int i = 0; i < 60; ++i) {
        // Added out of order: the listing sorts by submit time.
        const std::string n = std::to_string(i);
        world.AddMessage(*inbox, std::string("m").append(n), std::string("S").append(n),
                         1700000000 + ((i * 37) % 60) * 60);
    }
    auto r = MakeFolderReference(session.get(), store->name, store->id, inbox->id);
    std::vector<std::unique_ptr<EmailMessage>> list;
    list.push_back(std::make_unique<EmailMessage>()); // emptied first
    r.folder->ListEmails(list);
    ASSERT_EQ(list.size(), 60u);
    EXPECT_EQ(world.batches, (std::vector<std::size_t>{25, 25, 10, 0}));
    for (std::size_t i = 0; i < list.size(); ++i) {
        const int original = std::stoi(list[i]->subject.substr(1));
        EXPECT_EQ((original * 37) % 60, static_cast<int>(i));
        EXPECT_EQ(list[i]->folder, r.folder.get());
        EXPECT_EQ(list[i]->messageEntryId->Store(), r.store.get());
    }
    world.batches.clear();
    r = MakeFolderReference(session.get(), store->name, store->id, archive->id);
    r.folder->ListEmails(list);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(world.faults.calls["Table.QueryRows"], 4); // none for the empty folder
}

TEST_F(FakeMail, ListingFailuresNameTheirStep) {
    world.AddMessage(*inbox, "m1", "S", 1700000000);
    const std::pair<std::string, std::string> cases[] = {
        {"Folder.GetContentsTable", "60"}, {"Table.SetColumns", "70"}, {"Table.SortTable", "90"},
        {"Table.GetRowCount", "110"},      {"Table.QueryRows", "120"}, {"Store.OpenEntry", "130"},
    };
    for (const auto& [op, label] : cases) {
        world.faults.table.clear();
        world.faults.Fail(op, MAPI_E_NO_ACCESS);
        auto r = MakeFolderReference(session.get(), store->name, store->id, inbox->id);
        std::vector<std::unique_ptr<EmailMessage>> list;
        EXPECT_EQ(MessageOf([&] { r.folder->ListEmails(list); }),
                  "Position:" + label + " " + ErrorText(MAPI_E_NO_ACCESS) + kDetails)
            << op;
    }
    world.faults.table.clear();
    world.faults.Fail("Session.OpenMsgStore", MAPI_E_NETWORK_ERROR);
    auto r = MakeFolderReference(session.get(), "Far Away", store->id, inbox->id);
    EXPECT_EQ(MessageOf([&] { r.folder->ListEmails(emails); }).substr(0, 42),
              "Position:OpenMsgStore:Far Away MAPI_E_NETW");
}

TEST_F(FakeMail, MoveAndItsFailure) {
    world.AddMessage(*inbox, "m1", "S", 1700000000);
    EmailMessage& email = ListFirst();
    auto dest = MakeFolderReference(session.get(), store->name, store->id, archive->id);
    world.faults.Fail("Folder.CopyMessages", MAPI_E_NO_ACCESS, 0, true);
    EXPECT_EQ(MessageOf([&] { ref.folder->MoveEmail(email, *dest.folder); }),
              "Position:170 " + ErrorText(MAPI_E_NO_ACCESS) + kDetails);
    EXPECT_EQ(inbox->messages.size(), 1u);
    ref.folder->MoveEmail(email, *dest.folder);
    EXPECT_TRUE(inbox->messages.empty());
    EXPECT_EQ(archive->messages.size(), 1u);
}

// ---------------------------------------------------------------------------
// Emails

TEST(FakeEmail, SampleEmailWithoutFolderGivesErrorForCcAndBcc) {
    EmailMessage sample;
    sample.subject = "Offer";
    EXPECT_EQ(sample.FieldValue("subject"), "Offer");
    EXPECT_EQ(sample.FieldValue("CC"), "Error");
    EXPECT_EQ(sample.FieldValue("Bcc"), "Error");
    EXPECT_EQ(sample.FieldValue("Foo"), "%Foo");
    EXPECT_EQ(MessageOf([&] { sample.OpenMessage(); }),
              "Position:360 " + ErrorText(MAPI_E_INVALID_ENTRYID));
    Attachment a;
    a.fileName = "cv.doc";
    EXPECT_EQ(a.FieldValue("s"), "cv.doc");
    EXPECT_EQ(a.FieldValue("Subject"), "%Subject");
    a.ownerMessage = &sample;
    EXPECT_EQ(a.FieldValue("Subject"), "Offer");
}

TEST_F(FakeMail, StreamReadFailureRaisesAfterTheNotice) {
    auto m = world.AddMessage(*inbox, "m1", "S", 1700000000);
    m->props[PR_BODY] = Text(PR_BODY, std::string(10000, 'b'));
    EmailMessage& email = ListFirst();
    EXPECT_EQ(email.ReadBody(), std::string(10000, 'b'));

    NoticeCatcher notices;
    world.faults.Fail("Stream.Read", STG_E_ACCESSDENIED, 1, true); // the second read fails
    EXPECT_EQ(MessageOf([&] { email.ReadBody(); }),
              "Position:PlainText200 " + ErrorText(STG_E_ACCESSDENIED) + kDetails);
    ASSERT_EQ(notices.shown.size(), 1u);
    EXPECT_EQ(notices.shown[0], "Error: Position:PlainText200 The caller does not have enough "
                                "permissions for reading this stream object.");
    world.faults.Fail("Stream.Read", E_FAIL, 0, true); // not a stream code: no notice
    EXPECT_EQ(MessageOf([&] { email.ReadBody(); }).substr(0, 40),
              "Position:PlainText190 MAPI_E_CALL_FAILED");
    EXPECT_EQ(notices.shown.size(), 1u);
    world.faults.Fail("Message.OpenProperty", MAPI_E_NO_ACCESS, 0, true);
    EXPECT_EQ(MessageOf([&] { email.ReadBody(); }).substr(0, 25), "Position:PlainText190.2 M");
    m->props.erase(PR_BODY);
    EmailMessage& again = ListFirst();
    EXPECT_EQ(again.ReadBody(), ""); // no body: empty, no error
}

TEST_F(FakeMail, FailedBodyWriteIsNeverSaved) {
    auto m = world.AddMessage(*inbox, "m1", "S", 1700000000);
    m->props[PR_BODY] = Text(PR_BODY, "original body");
    EmailMessage& email = ListFirst();
    NoticeCatcher notices;
    const std::pair<std::string, std::string> cases[] = {
        {"Stream.Write", "PlainText220 "},
        {"Stream.ShortWrite", "PlainText220 "},
        {"Stream.Commit", "PlainText220.1 "},
        {"Message.OpenProperty", "PlainText210 "},
        {"Message.SaveChanges", "PlainText230-351 "},
    };
    for (const auto& [op, label] : cases) {
        world.faults.Fail(op, STG_E_MEDIUMFULL, 0, true);
        const std::string message = MessageOf([&] { email.WriteBody("note\r\noriginal body"); });
        EXPECT_EQ(message.substr(0, 9 + label.size()), "Position:" + label) << op;
        EXPECT_EQ(*m->props[PR_BODY].Text(), "original body") << op;
        // A later save of another change must not carry the failed one along.
        email.SetSubject("Tagged " + op);
        EXPECT_EQ(*m->props[PR_BODY].Text(), "original body") << op;
        EXPECT_EQ(*m->props[PR_SUBJECT].Text(), "Tagged " + op);
    }
    email.WriteBody("note\r\noriginal body");
    EXPECT_EQ(*m->props[PR_BODY].Text(), "note\r\noriginal body");
}

TEST_F(FakeMail, ConflictingSaveReappliesToTheFreshCopy) {
    auto m = world.AddMessage(*inbox, "m1", "Offer", 1700000000);
    EmailMessage& email = ListFirst();
    email.OpenMessage();
    // Another program marks the email read meanwhile.
    m->props[PR_MESSAGE_FLAGS] = Long(PR_MESSAGE_FLAGS, MSGFLAG_READ);
    ++m->version;
    email.SetSubject("[done] Offer");
    EXPECT_EQ(*m->props[PR_SUBJECT].Text(), "[done] Offer");
    EXPECT_EQ(*m->props[PR_MESSAGE_FLAGS].Long(), 1); // their change survives
    EXPECT_EQ(email.subject, "Offer");                // the field keeps the old text

    // A body change meets a conflict too.
    ++m->version;
    email.WriteBody("new body");
    EXPECT_EQ(*m->props[PR_BODY].Text(), "new body");

    // A conflict that comes back is an error, and nothing is forced.
    world.faults.Fail("Message.SaveChanges", MAPI_E_OBJECT_CHANGED);
    EXPECT_EQ(MessageOf([&] { email.SetSubject("x"); }),
              "Position:231-351 MAPI_E_OBJECT_CHANGED - The object has changed since it was "
              "opened." +
                  kDetails);
    EXPECT_EQ(*m->props[PR_SUBJECT].Text(), "[done] Offer");
    world.faults.table.clear();
    world.faults.Fail("Message.SetPropsProblem", MAPI_E_NO_ACCESS, 0, true);
    EXPECT_EQ(MessageOf([&] { email.SetSubject("y"); }).substr(0, 19), "Position:230.5 MAPI");
    EXPECT_EQ(*m->props[PR_SUBJECT].Text(), "[done] Offer");
}

TEST_F(FakeMail, MoreStepsNameTheirLabels) {
    auto m = world.AddMessage(*inbox, "m1", "Offer", 1700000000);
    m->props[PR_BODY] = Text(PR_BODY, "body");
    m->props[PR_STORE_SUPPORT_MASK] = Long(PR_STORE_SUPPORT_MASK, 0); // no RTF support
    EmailMessage& email = ListFirst();
    world.faults.Fail("Message.GetProps", MAPI_E_NO_ACCESS, 0, true);
    EXPECT_EQ(MessageOf([&] { email.ReadBody(); }),
              "Position:185 " + ErrorText(MAPI_E_NO_ACCESS) + kDetails);
    EXPECT_EQ(email.ReadBody(), "body");

    // Applying a change again to the fresh copy fails: "-352", nothing saved.
    email.OpenMessage();
    ++m->version;
    world.faults.Fail("Message.SetProps", MAPI_E_NO_ACCESS, 1, true);
    EXPECT_EQ(MessageOf([&] { email.SetSubject("x"); }),
              "Position:231-352 " + ErrorText(MAPI_E_NO_ACCESS) + kDetails);
    EXPECT_EQ(*m->props[PR_SUBJECT].Text(), "Offer");
}

TEST_F(FakeMail, StoreWithoutRootShowsTheErrorAsItsNode) {
    struct Sink : FolderTreeSink {
        std::vector<std::pair<std::string, bool>> roots;
        FolderTreeNode AddRootNode(const std::string& text,
                                   std::unique_ptr<MailFolder> folder) override {
            roots.emplace_back(text, folder != nullptr);
            return roots.size();
        }
        FolderTreeNode AddFolderNode(const std::string&, FolderTreeNode,
                                     std::unique_ptr<MailFolder>) override {
            return 0;
        }
        void SetNodeText(FolderTreeNode, const std::string&) override {}
        void ExpandNode(FolderTreeNode) override {}
    } sink;
    BuildFolderTree(*session, sink); // the fake store has no IPM subtree
    ASSERT_EQ(sink.roots.size(), 1u);
    EXPECT_EQ(sink.roots[0].first, "Position:getFolderRoot.3 MAPI_E_CALL_FAILED" + kDetails);
    EXPECT_FALSE(sink.roots[0].second);
}

TEST_F(FakeMail, MarkRead) {
    world.AddMessage(*inbox, "m1", "S", 1700000000);
    EmailMessage& email = ListFirst();
    world.faults.Fail("Message.SetReadFlag", MAPI_E_NO_ACCESS, 0, true);
    EXPECT_EQ(MessageOf([&] { email.MarkRead(); }).substr(0, 13), "Position:250 ");
    email.MarkRead();
    EXPECT_EQ(world.faults.calls["Message.SetReadFlag"], 2);
    email.MarkRead(); // already read: no further call
    EXPECT_EQ(world.faults.calls["Message.SetReadFlag"], 2);
    world.faults.Fail("Message.GetProps", MAPI_E_NO_ACCESS, 0, true);
    EXPECT_EQ(MessageOf([&] { email.MarkRead(); }).substr(0, 13), "Position:240 ");
}

TEST_F(FakeMail, CcAndBccAreReadOnDemand) {
    auto m = world.AddMessage(*inbox, "m1", "S", 1700000000);
    m->props[PR_DISPLAY_CC] = Text(PR_DISPLAY_CC, "Ann; Bob");
    EmailMessage& email = ListFirst();
    EXPECT_EQ(email.FieldValue("cc"), "Ann; Bob");
    EXPECT_EQ(email.FieldValue("BCC"), "");
    world.faults.Fail("Message.GetProps", MAPI_E_NO_ACCESS);
    EXPECT_EQ(email.FieldValue("CC"), "Ann; Bob"); // cached
    EXPECT_EQ(email.FieldValue("BCC"), "Error");
}

class FakeAttachments : public FakeMail {
protected:
    void SetUp() override {
        FakeMail::SetUp();
        message = world.AddMessage(*inbox, "m1", "Application", 1700000000);
        message->props[PR_HASATTACH] = Flag(PR_HASATTACH, true);
        AddAttachment(0, ATTACH_BY_VALUE, "curriculum vitae.docx", "CV~1.DOC", "docx bytes");
        AddAttachment(1, ATTACH_BY_VALUE, std::nullopt, "LETTER.TXT", "letter");
        AddAttachment(2, ATTACH_BY_VALUE, std::nullopt, std::nullopt, "nameless");
        auto inner = std::make_shared<MsgData>();
        inner->props[PR_SUBJECT] = Text(PR_SUBJECT, "Fwd: reference");
        inner->props[PR_BODY_HTML] = Text(PR_BODY_HTML, "<p>html only</p>");
        inner->props[PR_SENDER_EMAIL_ADDRESS] = Text(PR_SENDER_EMAIL_ADDRESS, "ref@example.org");
        AddAttachment(3, ATTACH_EMBEDDED_MSG, std::nullopt, std::nullopt, "").embedded = inner;
        auto untitled = std::make_shared<MsgData>();
        untitled->props[PR_BODY] = Text(PR_BODY, "plain");
        AddAttachment(4, ATTACH_EMBEDDED_MSG, std::nullopt, std::nullopt, "").embedded = untitled;
    }

    AttData& AddAttachment(int number, std::uint32_t method, std::optional<std::string> longName,
                           std::optional<std::string> shortName, const std::string& data) {
        AttData a;
        a.props[PR_ATTACH_NUM] = Long(PR_ATTACH_NUM, number);
        a.props[PR_ATTACH_METHOD] = Long(PR_ATTACH_METHOD, static_cast<std::int32_t>(method));
        a.props[PR_ATTACH_SIZE] = Long(PR_ATTACH_SIZE, static_cast<std::int32_t>(data.size()));
        if (longName) {
            a.props[PR_ATTACH_LONG_FILENAME] = Text(PR_ATTACH_LONG_FILENAME, *longName);
        }
        if (shortName) {
            a.props[PR_ATTACH_FILENAME] = Text(PR_ATTACH_FILENAME, *shortName);
        }
        a.data = data;
        message->attachments.push_back(a);
        return message->attachments.back();
    }

    std::shared_ptr<MsgData> message;
    std::vector<std::unique_ptr<Attachment>> attachments;
};

TEST_F(FakeAttachments, ListedByNameAndSaved) {
    EmailMessage& email = ListFirst();
    email.ListAttachments(attachments);
    ASSERT_EQ(attachments.size(), 4u);
    EXPECT_EQ(attachments[0]->fileName, "curriculum vitae.docx");
    EXPECT_EQ(attachments[0]->attachSize, 10);
    EXPECT_EQ(attachments[1]->fileName, "LETTER.TXT");
    EXPECT_EQ(attachments[2]->fileName, "Fwd: reference.txt");
    EXPECT_EQ(attachments[2]->attachNumber, 3);
    EXPECT_EQ(attachments[3]->fileName, ".txt");

    const auto dir =
        std::filesystem::temp_directory_path() / ("qf_mail_fake_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto read = [](const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    attachments[0]->SaveContentToFile(nullptr, dir / "a");
    EXPECT_EQ(read(dir / "a"), "docx bytes");
    attachments[2]->SaveContentToFile(nullptr, dir / "b"); // HTML when no plain body
    EXPECT_EQ(read(dir / "b"), "<p>html only</p>");
    attachments[3]->SaveContentToFile(nullptr, dir / "b"); // replaced
    EXPECT_EQ(read(dir / "b"), "plain");
    std::filesystem::remove_all(dir);

    auto embedded = email.OpenEmbedded(3);
    EXPECT_TRUE(embedded->IsEmbedded());
    EXPECT_EQ(embedded->subject, "Fwd: reference");
    EXPECT_EQ(embedded->senderAddress, "ref@example.org");
    EXPECT_EQ(embedded->folder, email.folder);
    EXPECT_EQ(embedded->SubjectWithoutPrefix(), "reference");
    // A conflict on an embedded email cannot reopen it: it is an error, and
    // its message stays in use.
    world.faults.Fail("Message.SaveChanges", MAPI_E_OBJECT_CHANGED, 0, true);
    EXPECT_EQ(MessageOf([&] { embedded->SaveChanges("e"); }).substr(0, 16), "Position:e-351 M");
    EXPECT_NE(embedded->mapiMessage, nullptr);
    EXPECT_NO_THROW(embedded->FieldValue("CC"));
}

// An attachment is copied to its file a piece at a time: a large one comes
// out whole, and one whose reading fails midway leaves the file that was
// there untouched and no partial copy.  Held in memory, content is bounded.
TEST_F(FakeAttachments, LargeContentIsCopiedInPiecesAndOnlyWhole) {
    std::string big(1u << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 31 >> 3);
    }
    message->attachments[0].data = big;
    EmailMessage& email = ListFirst();
    email.ListAttachments(attachments);
    const auto dir =
        std::filesystem::temp_directory_path() / ("qf_mail_pieces_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "cv.docx").string();
    attachments[0]->SaveContentToFile(nullptr, path);
    EXPECT_TRUE(ReadFileBytes(path) == big);

    WriteFileAtomic(path, "kept");
    NoticeCatcher notices;
    world.faults.Fail("Stream.Read", STG_E_REVERTED, 100); // 400 kB into the content
    EXPECT_EQ(MessageOf([&] { attachments[0]->SaveContentToFile(nullptr, path); }).substr(0, 13),
              "Position:540 ");
    EXPECT_EQ(ReadFileBytes(path), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    world.faults.table.clear();

    EXPECT_EQ(attachments[0]->ReadContent(nullptr).size(), big.size());
    EXPECT_EQ(
        MessageOf([&] { attachments[0]->ReadContent(nullptr, big.size() - 1); }).substr(0, 13),
        "Position:540 ");
    std::filesystem::remove_all(dir);
}

TEST_F(FakeAttachments, NoneListedWithoutTheFlag) {
    message->props[PR_HASATTACH] = Flag(PR_HASATTACH, false);
    EmailMessage& email = ListFirst();
    attachments.push_back(std::make_unique<Attachment>());
    email.ListAttachments(attachments);
    EXPECT_EQ(attachments.size(), 1u); // left as it was
}

TEST_F(FakeAttachments, FailuresNameTheirStep) {
    struct Case {
        std::string op;
        int skip;
        std::string label;
        std::function<void(EmailMessage&, std::vector<std::unique_ptr<Attachment>>&)> action;
    };
    auto list = [](EmailMessage& e, auto& l) { e.ListAttachments(l); };
    auto save = [](int index) {
        return [index](EmailMessage& e, auto& l) {
            e.ListAttachments(l);
            l.at(static_cast<std::size_t>(index))->ReadContent(nullptr);
        };
    };
    auto embed = [](EmailMessage& e, auto&) { e.OpenEmbedded(3); };
    const Case cases[] = {
        {"Message.GetProps", 0, "310", list},
        {"Message.GetAttachmentTable", 0, "320", list},
        {"Table.QueryRows", 2, "340", list},    // after the listing's two
        {"Message.OpenAttach", 0, "370", list}, // naming the embedded email
        {"Attach.OpenProperty", 0, "380", list},
        {"Embedded.GetProps", 0, "400", list},
        {"Embedded.GetProps", 0, "410", embed},
        {"Message.OpenAttach", 2, "500", save(0)}, // after the two embedded names
        {"Attach.OpenProperty", 2, "520", save(0)},
        {"Stream.Read", 0, "530", save(0)},
        {"Stream.Read", 1, "540", save(0)},
    };
    NoticeCatcher notices;
    for (const Case& c : cases) {
        world.faults.table.clear();
        world.faults.Fail(c.op, STG_E_REVERTED, c.skip);
        EmailMessage& email = ListFirst();
        std::vector<std::unique_ptr<Attachment>> l;
        EXPECT_EQ(MessageOf([&] { c.action(email, l); }).substr(0, 10 + c.label.size()),
                  "Position:" + c.label + " ")
            << c.op << " " << c.label;
    }
    EXPECT_EQ(notices.shown.size(), 2u); // the two stream reads
}

} // namespace
} // namespace qf

namespace qf {
namespace {

TEST(EmailFields, SubjectWithoutPrefix) {
    const std::pair<const char*, const char*> cases[] = {
        {"Re: Re: Offer", "Re: Offer"},
        {"fwd:  Word", "Word"},
        {"FW", "FW"},
        {"FW: job", "job"},
        {"RE:x", "x"},
        {"  \t Plain", "Plain"},
        {"Fwd: Re: both", "Re: both"},
        {"Résumé", "Résumé"},
        {"", ""},
    };
    for (const auto& [subject, expected] : cases) {
        EmailMessage email;
        email.subject = subject;
        EXPECT_EQ(email.SubjectWithoutPrefix(), expected) << subject;
    }
}

TEST(EmailFields, SentLeavesOutMidnightAndNameCaseDoesNotMatter) {
    EmailMessage email;
    EXPECT_EQ(email.FieldValue("SENT"), FormatShortDate(0)); // unset: 30 December 1899 only
    email.deliveryTime = EncodeDateTime({2026, 3, 4, 9, 8, 7, 0});
    const std::string sent = email.FieldValue("SENT");
    EXPECT_EQ(sent, FormatShortDate(email.deliveryTime) + " " + FormatLongTime(email.deliveryTime));
    EXPECT_EQ(email.FieldValue("sent"), sent);
    EXPECT_EQ(email.FieldValue("Now"), TodayYyyymmdd());
    email.senderAddress = "a@b.c";
    email.displayTo = "Jobs";
    EXPECT_EQ(email.FieldValue("from"), "a@b.c");
    EXPECT_EQ(email.FieldValue("To"), "Jobs");
}

} // namespace
} // namespace qf
