// The IMAP provider against a private Dovecot serving a Maildir tree: folders
// from LIST, listing in batches, reading without marking read, the read flag,
// moves (also to a Maildir and another account of the profile, and those cut
// short by a killed process), changed subjects and bodies, crafted
// identifiers, a renumbered mailbox, lost connections, and logon and
// certificate failures.
#include "maildir_fixture.h"

#include "common/fileio.h"
#include "platform/messaging/entryid.h"
#include "platform/messaging/imap/connection.h"
#include "platform/messaging/mime/streams.h"
#include "platform/messaging/store_moves.h"
#include "support/dovecot_fixture.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qf::mapi::testing {
namespace {

using qf::testing::DovecotServer;

std::string Message(const std::string& subject, const std::string& body = "Hello.\n",
                    const std::string& extraHeaders = "") {
    return "From: Ann Applicant <ann@example.org>\nTo: Jobs <jobs@example.com>\nSubject: " +
           subject + "\nDate: Tue, 01 Dec 2026 09:00:00 +0000\nMessage-ID: <" + subject +
           "@example.org>\n" + extraHeaders + "\n" + body;
}

std::string WithAttachment(const std::string& subject) {
    return "From: ann@example.org\nSubject: " + subject +
           "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
           "Content-Type: text/plain\n\nSee the CV.\n--b\nContent-Type: application/pdf; "
           "name=\"cv.pdf\"\nContent-Disposition: attachment; filename=\"cv.pdf\"\n"
           "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQK\n--b--\n";
}

// The account of the test server, for a second client.
AccountSettings AccountOf(const DovecotServer& server) {
    AccountSettings account;
    account.host = "127.0.0.1";
    account.port = server.port();
    account.user = DovecotServer::kUser;
    account.tls = TlsMode::None;
    return account;
}

// base64 with CR LF every 76 characters, as mailers write attachments.
std::string Base64Lines(const std::string& bytes) {
    static const char* kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(bytes.size() / 3 * 4 + bytes.size() / 28 + 8);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const auto b = [&](std::size_t k) {
            return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0u;
        };
        const unsigned v = (b(i) << 16) | (b(i + 1) << 8) | b(i + 2);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
        if ((i / 3 + 1) % 19 == 0) {
            out += "\n";
        }
    }
    return out + "\n";
}

class ImapTest : public MaildirTest {
protected:
    void SetUp() override {
        MaildirTest::SetUp();
        ::chmod(dir_.c_str(), 0755);
        MakeMaildir(root_ / ".Jobs");
        MakeMaildir(root_ / ".Jobs.Applied");
        MakeMaildir(root_ / ".Entw&APw-rfe");
        local_ = dir_ / "Local";
        StartServer(false);
    }
    void TearDown() override {
        store_.reset();
        session_.reset();
        server_.reset();
        MaildirTest::TearDown();
    }

    void StartServer(bool tls) {
        server_ = std::make_unique<DovecotServer>(root_.string(), tls);
        std::string why;
        ASSERT_TRUE(server_->Start(why)) << why;
        UseAccount("store tls = none\n");
    }

    // A profile with the account; `settings` follow the store line.
    void UseAccount(const std::string& settings, std::uint16_t port = 0,
                    const char* password = DovecotServer::kPassword) {
        WriteFile(profiles_, "[profile Test]\nstore = imap | Work mail | 127.0.0.1\n"
                             "store port = " +
                                 std::to_string(port != 0 ? port : server_->port()) +
                                 "\nstore user = jane\nstore password = text " + password + "\n" +
                                 settings);
        ::chmod(profiles_.c_str(), 0600);
        Reopen();
    }

    // Puts messages into the tree on disk, as a delivery agent would.
    void Put(const std::string& bytes, const std::string& name, const fs::path& folder = {},
             const std::string& flags = "") {
        Deliver(bytes, name + ":2," + flags, folder);
        server_->GiveMailToServer();
    }

    // Opens the store; the failure's text when it fails.
    std::string OpenFailure() {
        Reopen();
        if (MAPILogonEx(0, nullptr, nullptr, 0x62, session_) != S_OK) {
            return "logon failed: " + LastLogonFailure();
        }
        std::shared_ptr<IMAPITable> table;
        RowSet rows;
        const PropTagArray cols{PR_ENTRYID};
        session_->GetMsgStoresTable(0, table);
        HrQueryAllRows(*table, &cols, nullptr, 0, rows);
        const HRESULT hr =
            session_->OpenMsgStore(0, *rows[0][0].Bin(), Iid::IMsgStore, 0x94, store_);
        if (hr == S_OK) {
            return "";
        }
        std::optional<MapiErrorInfo> info;
        session_->GetLastError(hr, 0, info);
        return info ? info->error : "failed without a reason";
    }

    std::vector<std::string> Subjects(IMAPIFolder& folder) {
        std::vector<std::string> out;
        for (const auto& row : Contents(folder, {PR_SUBJECT})) {
            out.push_back(row[0].Text() ? *row[0].Text() : "<none>");
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    std::vector<std::string> ChildNames(IMAPIFolder& folder) {
        std::shared_ptr<IMAPITable> table;
        EXPECT_EQ(folder.GetHierarchyTable(0, table), S_OK);
        RowSet rows;
        const PropTagArray cols{PR_DISPLAY_NAME};
        EXPECT_EQ(HrQueryAllRows(*table, &cols, nullptr, 0, rows), S_OK);
        std::vector<std::string> names;
        for (const auto& r : rows) {
            names.push_back(*r[0].Text());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::shared_ptr<IMAPIFolder> Child(IMAPIFolder& folder, const std::string& name) {
        std::shared_ptr<IMAPITable> table;
        EXPECT_EQ(folder.GetHierarchyTable(0, table), S_OK);
        RowSet rows;
        const PropTagArray cols{PR_DISPLAY_NAME, PR_ENTRYID};
        EXPECT_EQ(HrQueryAllRows(*table, &cols, nullptr, 0, rows), S_OK);
        for (const auto& r : rows) {
            if (*r[0].Text() == name) {
                return OpenFolder(*r[1].Bin());
            }
        }
        ADD_FAILURE() << "no folder " << name;
        return nullptr;
    }

    // A session of another client with the account.
    std::unique_ptr<imap::Connection> OtherClient() {
        return std::make_unique<imap::Connection>(AccountOf(*server_), DovecotServer::kPassword,
                                                  "other client");
    }

    // Another client removes every message of the inbox.
    void ExpungeElsewhere() {
        auto client = OtherClient();
        imap::Connection& other = *client;
        ASSERT_EQ(other.Open(), S_OK) << other.Failure();
        imap::SelectedInfo info;
        ASSERT_EQ(other.Select("INBOX", info), S_OK);
        std::vector<std::uint32_t> uids;
        ASSERT_EQ(other.Uids(uids), S_OK);
        for (std::uint32_t uid : uids) {
            ASSERT_EQ(other.Remove(uid), S_OK) << other.Failure();
        }
    }

    // The inbox of the profile's second store (a Maildir after UseLocalStore).
    std::shared_ptr<IMAPIFolder> SecondInbox() {
        if (!session_) {
            EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0x62, session_), S_OK);
        }
        std::shared_ptr<IMAPITable> table;
        RowSet stores;
        const PropTagArray cols{PR_ENTRYID};
        EXPECT_EQ(session_->GetMsgStoresTable(0, table), S_OK);
        EXPECT_EQ(HrQueryAllRows(*table, &cols, nullptr, 0, stores), S_OK);
        std::shared_ptr<IMsgStore> second;
        EntryId inboxId;
        std::shared_ptr<IUnknown> obj;
        if (stores.size() != 2 ||
            session_->OpenMsgStore(0, *stores[1][0].Bin(), Iid::IMsgStore, 0x94, second) != S_OK ||
            second->GetReceiveFolder("IPM", 0, inboxId, nullptr) != S_OK ||
            second->OpenEntry(inboxId, Iid::IMAPIFolder, 0, nullptr, obj) != S_OK) {
            ADD_FAILURE() << "no second store";
            return nullptr;
        }
        secondStore_ = second;
        return As<IMAPIFolder>(obj);
    }
    // A profile with the account and, as its second store, the Maildir `local_`.
    void UseLocalStore() {
        MakeMaildir(local_);
        UseAccount("store tls = none\nstore = maildir | Local | " + local_.string() + "\n");
    }

    // Moves the one message of the account's inbox (`fromServer`) or of the
    // second store's inbox to the other one, in a child process killed at `step`.
    void MoveKilledAt(bool fromServer, MoveStep step) {
        Reopen(); // the child opens its own connections
        secondStore_.reset();
        const pid_t pid = ::fork();
        if (pid == 0) {
            mapi::testing::SetMoveStepHook([step](MoveStep now) {
                if (now == step) {
                    ::raise(SIGKILL);
                }
            });
            auto server = Inbox();
            auto local = SecondInbox();
            auto& from = fromServer ? server : local;
            auto& to = fromServer ? local : server;
            const auto rows = Contents(*from, {PR_ENTRYID});
            if (rows.size() == 1) {
                from->CopyMessages({*rows[0][0].Bin()}, Iid::None, to, 0, nullptr, MESSAGE_MOVE);
            }
            ::_exit(3); // the step was never reached
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    }

    std::unique_ptr<DovecotServer> server_;
    fs::path local_; // a Maildir beside the account's tree
    std::shared_ptr<IMsgStore> secondStore_;
};

// The message as the copy of a move stores it, without the move's header.
std::string WithoutMoveHeader(std::string bytes) {
    const std::size_t at = bytes.find("X-Quillfence-Move: ");
    if (at != std::string::npos) {
        bytes.erase(at, bytes.find('\n', at) + 1 - at);
    }
    return bytes;
}

TEST_F(ImapTest, FoldersComeFromListWithDecodedNames) {
    auto root = OpenFolder({});
    ASSERT_TRUE(root);
    EXPECT_EQ(Text(*root, PR_DISPLAY_NAME), "Inbox");
    EXPECT_EQ(ChildNames(*root), (std::vector<std::string>{"Entwürfe", "Jobs"}));
    auto jobs = Child(*root, "Jobs");
    ASSERT_TRUE(jobs);
    EXPECT_EQ(ChildNames(*jobs), (std::vector<std::string>{"Applied"}));
    // The IPM subtree is the inbox, and the store says it is an IMAP store.
    std::optional<PropValue> ipm;
    ASSERT_EQ(HrGetOneProp(Store(), PR_IPM_SUBTREE_ENTRYID, ipm), S_OK);
    EntryId inbox;
    ASSERT_EQ(Store().GetReceiveFolder("IPM", 0, inbox, nullptr), S_OK);
    EXPECT_EQ(*ipm->Bin(), inbox);
    EXPECT_EQ(Text(Store(), PR_SERVICE_NAME), "imap");

    // A root folder narrows the store to that folder and what lies below it.
    UseAccount("store tls = none\nstore root folder = Jobs\n");
    auto narrowed = OpenFolder({});
    EXPECT_EQ(Text(*narrowed, PR_DISPLAY_NAME), "Jobs");
    EXPECT_EQ(ChildNames(*narrowed), (std::vector<std::string>{"Applied"}));
}

TEST_F(ImapTest, ListingGivesEveryPropertyAcrossBatches) {
    Put(Message("Plain", "Hello.\n", "Received: from mx by x; Tue, 01 Dec 2026 10:30:00 +0000\n"),
        "1000.M1P1.test");
    Put(WithAttachment("With CV"), "1001.M2P1.test", {}, "S");
    for (int i = 0; i < 1100; ++i) {
        Deliver(Message("Bulk " + std::to_string(i)), std::to_string(2000 + i) + ".M3P1.test:2,");
    }
    server_->GiveMailToServer();
    auto rows =
        Contents(*Inbox(), {PR_SUBJECT, PR_SENDER_EMAIL_ADDRESS, PR_HASATTACH, PR_MESSAGE_FLAGS,
                            PR_MESSAGE_SIZE, PR_MESSAGE_DELIVERY_TIME, PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1102u);
    std::map<std::string, Row> bySubject;
    for (auto& r : rows) {
        ASSERT_TRUE(r[0].Text()) << "a row without subject";
        bySubject[*r[0].Text()] = r;
    }
    EXPECT_EQ(bySubject.size(), 1102u);
    const Row& plain = bySubject.at("Plain");
    EXPECT_EQ(*plain[1].Text(), "ann@example.org");
    EXPECT_FALSE(*plain[2].Bool());
    EXPECT_EQ(*plain[3].Long() & MSGFLAG_READ, 0);
    EXPECT_GT(*plain[4].Long(), 100);
    EXPECT_EQ(UnixFromFileTime(*plain[5].Time()), 1796121000); // the Received time
    const Row& cv = bySubject.at("With CV");
    EXPECT_TRUE(*cv[2].Bool());
    EXPECT_EQ(*cv[3].Long() & MSGFLAG_READ, MSGFLAG_READ);
    EXPECT_TRUE(bySubject.count("Bulk 1099"));

    // The listed identifier opens the message, with its attachment.
    auto message = OpenMessage(*cv[6].Bin());
    ASSERT_TRUE(message);
    std::shared_ptr<IMAPITable> attachments;
    ASSERT_EQ(message->GetAttachmentTable(0, attachments), S_OK);
    RowSet arows;
    const PropTagArray acols{PR_ATTACH_LONG_FILENAME};
    ASSERT_EQ(HrQueryAllRows(*attachments, &acols, nullptr, 0, arows), S_OK);
    ASSERT_EQ(arows.size(), 1u);
    EXPECT_EQ(*arows[0][0].Text(), "cv.pdf");
}

TEST_F(ImapTest, ReadingNeverMarksReadButTheReadFlagDoes) {
    Put(Message("Unread", "The body.\n"), "1000.M1P1.test");
    auto message = OnlyMessage();
    ASSERT_TRUE(message);
    EXPECT_EQ(Body(*message), "The body.\n");
    std::shared_ptr<IStream> raw;
    ASSERT_EQ(message->OpenRawStream(raw), S_OK);
    EXPECT_NE(ReadStream(*raw).find("Subject: Unread"), std::string::npos);
    auto files = MessageFiles(root_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().find(",S"), std::string::npos) << files[0];

    ASSERT_EQ(message->SetReadFlag(SUPPRESS_RECEIPT), S_OK);
    files = MessageFiles(root_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].filename().string().find(",S"), std::string::npos) << files[0];
    auto rows = Contents(*Inbox(), {PR_MESSAGE_FLAGS});
    EXPECT_EQ(*rows[0][0].Long() & MSGFLAG_READ, MSGFLAG_READ);
}

TEST_F(ImapTest, MovesTakeTheMessageExactlyOnce) {
    Put(Message("Stay"), "1000.M1P1.test");
    Put(Message("Move me"), "1001.M2P1.test");
    auto inbox = Inbox();
    auto jobs = Child(*OpenFolder({}), "Jobs");
    auto rows = Contents(*inbox, {PR_SUBJECT, PR_ENTRYID});
    EntryList move;
    for (const auto& r : rows) {
        if (*r[0].Text() == "Move me") {
            move.push_back(*r[1].Bin());
        } else {
            // Reading the first message reads the next one ahead.
            EXPECT_EQ(Text(*OpenMessage(*r[1].Bin()), PR_SUBJECT), "Stay");
        }
    }
    ASSERT_EQ(inbox->CopyMessages(move, Iid::None, jobs, 0, nullptr, MESSAGE_MOVE), S_OK);
    // The old identifier no longer names a message of the inbox, though it was
    // read ahead before the move.
    std::shared_ptr<IUnknown> obj;
    EXPECT_EQ(Store().OpenEntry(move[0], Iid::IMessage, 0, nullptr, obj), MAPI_E_NOT_FOUND);
    EXPECT_EQ(Subjects(*inbox), (std::vector<std::string>{"Stay"}));
    EXPECT_EQ(Subjects(*jobs), (std::vector<std::string>{"Move me"}));
    EXPECT_EQ(MessageFiles(root_ / ".Jobs").size(), 1u);
}

// A server without MOVE: the message is copied, and only the original is
// marked deleted and expunged; a message another client marked deleted stays.
TEST_F(ImapTest, WithoutMoveOnlyTheMovedMessageIsExpunged) {
    server_.reset();
    server_ = std::make_unique<DovecotServer>(root_.string());
    server_->AnnounceCapabilities("IMAP4rev1 LITERAL+ SASL-IR LOGIN-REFERRALS ID ENABLE IDLE "
                                  "UIDPLUS");
    std::string why;
    ASSERT_TRUE(server_->Start(why)) << why;
    UseAccount("store tls = none\n");
    Put(Message("Theirs"), "1000.M1P1.test", {}, "T"); // marked deleted by another client
    Put(Message("Move me"), "1001.M2P1.test");
    auto inbox = Inbox();
    auto jobs = Child(*OpenFolder({}), "Jobs");
    EntryList move;
    for (const auto& r : Contents(*inbox, {PR_SUBJECT, PR_ENTRYID})) {
        if (*r[0].Text() == "Move me") {
            move.push_back(*r[1].Bin());
        }
    }
    ASSERT_EQ(move.size(), 1u);
    ASSERT_EQ(inbox->CopyMessages(move, Iid::None, jobs, 0, nullptr, MESSAGE_MOVE), S_OK);
    EXPECT_EQ(Subjects(*jobs), (std::vector<std::string>{"Move me"}));
    EXPECT_EQ(Subjects(*inbox), (std::vector<std::string>{"Theirs"}));
    const auto files = MessageFiles(root_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].filename().string().find('T'), std::string::npos) << files[0];
}

// Between an IMAP account and a Maildir of the same profile, both ways, through
// the message's bytes: the copy is stored before the original goes.
TEST_F(ImapTest, MovesBetweenAMaildirAndTheAccountGoBothWays) {
    const fs::path& local = local_;
    Put(Message("To the Maildir"), "1000.M1P1.test", {}, "S");
    UseLocalStore();
    Deliver(Message("To the server"), "2000.M2P1.test:2,", local);
    auto inbox = Inbox();
    auto localInbox = SecondInbox();
    ASSERT_TRUE(localInbox);

    const auto fromServer = Contents(*inbox, {PR_ENTRYID});
    const auto fromLocal = Contents(*localInbox, {PR_ENTRYID});
    ASSERT_EQ(fromServer.size(), 1u);
    ASSERT_EQ(fromLocal.size(), 1u);
    ASSERT_EQ(inbox->CopyMessages({*fromServer[0][0].Bin()}, Iid::None, localInbox, 0, nullptr,
                                  MESSAGE_MOVE),
              S_OK);
    ASSERT_EQ(localInbox->CopyMessages({*fromLocal[0][0].Bin()}, Iid::None, inbox, 0, nullptr,
                                       MESSAGE_MOVE),
              S_OK);
    EXPECT_EQ(Subjects(*inbox), (std::vector<std::string>{"To the server"}));
    EXPECT_EQ(Subjects(*localInbox), (std::vector<std::string>{"To the Maildir"}));
    const auto serverFiles = MessageFiles(root_);
    const auto localFiles = MessageFiles(local);
    ASSERT_EQ(serverFiles.size(), 1u);
    ASSERT_EQ(localFiles.size(), 1u);
    // The read flag travels with the message, and the bytes arrive whole.
    EXPECT_EQ(
        localFiles[0].filename().string().substr(localFiles[0].filename().string().rfind(',')),
        ",S");
    EXPECT_EQ(WithoutMoveHeader(ReadFile(localFiles[0])), Message("To the Maildir"));
    EXPECT_EQ(WithoutMoveHeader(ReadFile(serverFiles[0])), Message("To the server"));
    // A large message goes to the Maildir as it is read, a piece at a time.
    std::string pdf(3u << 20, '\0');
    for (std::size_t i = 0; i < pdf.size(); ++i) {
        pdf[i] = static_cast<char>((i * 69069u) >> 9);
    }
    const std::string big = "From: ann@example.org\nSubject: Big\nMIME-Version: 1.0\n"
                            "Content-Type: application/pdf; name=\"cv.pdf\"\n"
                            "Content-Transfer-Encoding: base64\n\n" +
                            Base64Lines(pdf);
    Put(big, "3000.M3P1.test");
    EntryList bigOne;
    for (const auto& r : Contents(*inbox, {PR_SUBJECT, PR_ENTRYID})) {
        if (*r[0].Text() == "Big") {
            bigOne.push_back(*r[1].Bin());
        }
    }
    ASSERT_EQ(bigOne.size(), 1u);
    imap::Connection::ResetLargestAnswer();
    ASSERT_EQ(inbox->CopyMessages(bigOne, Iid::None, localInbox, 0, nullptr, MESSAGE_MOVE), S_OK);
    EXPECT_LT(imap::Connection::LargestAnswer(), 2u << 20);
    EXPECT_EQ(Subjects(*inbox), (std::vector<std::string>{"To the server"}));
    EXPECT_EQ(Subjects(*localInbox), (std::vector<std::string>{"Big", "To the Maildir"}));
    int whole = 0;
    for (const auto& f : MessageFiles(local)) {
        const std::string bytes = ReadFile(f); // carrying the move's token
        whole += bytes != big && WithoutMoveHeader(bytes) == big ? 1 : 0;
    }
    EXPECT_EQ(whole, 1);
}

// A move from the Maildir to the account that the process stopped in: when the
// copy was stored, the next listing removes the original and does not show it;
// when it was not, the original stays.  No note is left either way.
TEST_F(ImapTest, AMoveToTheAccountCutShortIsSettledByTheNextListing) {
    UseLocalStore();
    Deliver(Message("Copied"), "2000.M2P1.test:2,S", local_);
    MoveKilledAt(false, MoveStep::CopyStored);
    ASSERT_EQ(MessageFiles(root_).size(), 1u) << "the copy was stored";
    ASSERT_EQ(MessageFiles(local_).size(), 1u) << "the original is still there";
    EXPECT_EQ(Subjects(*SecondInbox()), std::vector<std::string>{});
    EXPECT_EQ(Subjects(*Inbox()), (std::vector<std::string>{"Copied"}));
    ASSERT_EQ(MessageFiles(root_).size(), 1u);
    EXPECT_EQ(WithoutMoveHeader(ReadFile(MessageFiles(root_)[0])), Message("Copied"));
    EXPECT_TRUE(MessageFiles(local_).empty());

    Deliver(Message("Not copied"), "2001.M3P1.test:2,", local_);
    MoveKilledAt(false, MoveStep::NoteWritten);
    EXPECT_EQ(Subjects(*SecondInbox()), (std::vector<std::string>{"Not copied"}));
    EXPECT_EQ(Subjects(*Inbox()), (std::vector<std::string>{"Copied"}));
    EXPECT_EQ(ReadFile(MessageFiles(local_)[0]), Message("Not copied"));
    EXPECT_TRUE(fs::is_empty(local_ / "tmp")) << "the notes are gone";
}

// Between two accounts (two stores of one server here: the whole account, and
// its folder Jobs as an account of its own), the destination folder is found
// again from the original's mark.
TEST_F(ImapTest, AMoveToAnotherAccountCutShortIsSettledByTheNextListing) {
    Put(Message("Across"), "1000.M1P1.test");
    UseAccount("store tls = none\nstore = imap | Jobs account | 127.0.0.1\nstore port = " +
               std::to_string(server_->port()) +
               "\nstore tls = none\nstore user = jane\nstore password = text " +
               DovecotServer::kPassword + "\nstore root folder = Jobs\n");
    MoveKilledAt(true, MoveStep::CopyStored);
    ASSERT_EQ(MessageFiles(root_ / ".Jobs").size(), 1u) << "the copy was stored";
    ASSERT_EQ(MessageFiles(root_).size(), 1u) << "the original is still there";
    EXPECT_EQ(Subjects(*Inbox()), std::vector<std::string>{});
    EXPECT_TRUE(MessageFiles(root_).empty());
    EXPECT_EQ(Subjects(*SecondInbox()), (std::vector<std::string>{"Across"}));
}

// A copy is known by its whole token: the token of one move may be the start
// of another's (message 5 and message 50 of one folder).
TEST_F(ImapTest, AMovedCopyIsFoundByItsWholeTokenOnly) {
    Put(Message("Fifty", "x\n", "X-Quillfence-Move: 0123abcd.7.50\n"), "1000.M1P1.test");
    bool found = true;
    ASSERT_EQ(Inbox()->FindMovedCopy("0123abcd.7.5", found), S_OK);
    EXPECT_FALSE(found);
    ASSERT_EQ(Inbox()->FindMovedCopy("0123abcd.7.50", found), S_OK);
    EXPECT_TRUE(found);
}

// The same from the account to the Maildir: the original's mark is settled by
// the next listing of the account.
TEST_F(ImapTest, AMoveFromTheAccountCutShortIsSettledByTheNextListing) {
    Put(Message("Copied"), "1000.M1P1.test", {}, "S");
    UseLocalStore();
    MoveKilledAt(true, MoveStep::CopyStored);
    ASSERT_EQ(MessageFiles(local_).size(), 1u) << "the copy was stored";
    ASSERT_EQ(MessageFiles(root_).size(), 1u) << "the original is still there";
    EXPECT_EQ(Subjects(*Inbox()), std::vector<std::string>{});
    EXPECT_TRUE(MessageFiles(root_).empty());
    EXPECT_EQ(Subjects(*SecondInbox()), (std::vector<std::string>{"Copied"}));
    EXPECT_EQ(WithoutMoveHeader(ReadFile(MessageFiles(local_)[0])), Message("Copied"));

    Put(Message("Not copied"), "1001.M2P1.test");
    MoveKilledAt(true, MoveStep::NoteWritten);
    EXPECT_EQ(Subjects(*Inbox()), (std::vector<std::string>{"Not copied"}));
    EXPECT_EQ(Subjects(*SecondInbox()), (std::vector<std::string>{"Copied"}));
    // The mark is gone: a later listing asks no one.
    imap::Connection other(AccountOf(*server_), DovecotServer::kPassword, "other client");
    ASSERT_EQ(other.Open(), S_OK) << other.Failure();
    imap::SelectedInfo info;
    ASSERT_EQ(other.Select("INBOX", info), S_OK);
    std::vector<imap::FetchedSummary> heads;
    std::vector<std::uint32_t> uids;
    ASSERT_EQ(other.Uids(uids), S_OK);
    ASSERT_EQ(other.FetchSummaries(uids, heads), S_OK);
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_EQ(heads[0].keywords, std::vector<std::string>{});
}

// Moving the message again after a cut finishes the first move instead of
// storing a second copy; while the destination is away, the listing keeps the
// original and its note, and settles them once it is back.
TEST_F(ImapTest, AMoveCutShortIsFinishedByTheNextAttemptOrOnceTheServerIsBack) {
    UseLocalStore();
    Deliver(Message("Again"), "2000.M2P1.test:2,", local_);
    // The run listed the folder before the cut, and moves the message again by
    // that listing's identifier.
    const auto listed = Contents(*SecondInbox(), {PR_ENTRYID});
    ASSERT_EQ(listed.size(), 1u);
    MoveKilledAt(false, MoveStep::CopyStored);
    ASSERT_FALSE(fs::is_empty(local_ / "tmp"));
    auto server = Inbox();
    ASSERT_EQ(SecondInbox()->CopyMessages({*listed[0][0].Bin()}, Iid::None, server, 0, nullptr,
                                          MESSAGE_MOVE),
              S_OK);
    EXPECT_EQ(MessageFiles(root_).size(), 1u) << "one copy on the server";
    EXPECT_TRUE(MessageFiles(local_).empty());

    Deliver(Message("Waits"), "2001.M3P1.test:2,", local_);
    MoveKilledAt(false, MoveStep::CopyStored);
    server_->Kill();
    Reopen();
    EXPECT_EQ(Subjects(*SecondInbox()), (std::vector<std::string>{"Waits"}));
    EXPECT_FALSE(fs::is_empty(local_ / "tmp")) << "the note waits";
    std::string why;
    ASSERT_TRUE(server_->Start(why)) << why;
    Reopen();
    EXPECT_EQ(Subjects(*SecondInbox()), std::vector<std::string>{});
    EXPECT_EQ(Subjects(*Inbox()), (std::vector<std::string>{"Again", "Waits"}));
    EXPECT_TRUE(fs::is_empty(local_ / "tmp"));
}

TEST_F(ImapTest, AChangedSubjectAndBodyReplaceTheMessage) {
    Put(Message("Old subject", "Old body.\n"), "1000.M1P1.test", {}, "S");
    auto rows = Contents(*Inbox(), {PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1u);
    const EntryId oldId = *rows[0][0].Bin();
    auto message = OpenMessage(oldId);
    ASSERT_EQ(HrSetOneProp(*message, PropValue{PR_SUBJECT, std::string("New subject")}), S_OK);
    ASSERT_EQ(HrSetOneProp(*message, PropValue{PR_BODY, std::string("New body.\n")}), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);
    EXPECT_EQ(Text(*message, PR_SUBJECT), "New subject");

    EXPECT_EQ(Subjects(*Inbox()), (std::vector<std::string>{"New subject"}));
    const auto files = MessageFiles(root_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].filename().string().find(",S"), std::string::npos) << "read flag kept";
    // The old identifier leads to the new message.
    auto again = OpenMessage(oldId);
    ASSERT_TRUE(again);
    EXPECT_EQ(Body(*again), "New body.\n");
}

TEST_F(ImapTest, AListingFinishesAReplacementLeftHalfDone) {
    Put(Message("Original"), "1000.M1P1.test");
    auto rows = Contents(*Inbox(), {PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1u);
    const std::string name = ParseEntryId(*rows[0][0].Bin())->message;
    // The replacement was stored, then the process stopped.
    Put(Message("Replacement", "Hello.\n", "X-Quillfence-Replaces: " + name + "\n"),
        "1001.M2P1.test");
    EXPECT_EQ(Subjects(*Inbox()), (std::vector<std::string>{"Replacement"}));
    EXPECT_EQ(MessageFiles(root_).size(), 1u);
    // A header that merely resembles the name removes nothing.
    Put(Message("Other"), "1002.M3P1.test");
    Put(Message("Lookalike", "x\n", "X-Quillfence-Replaces: " + name + "0\n"), "1003.M4P1.test");
    EXPECT_EQ(Subjects(*Inbox()), (std::vector<std::string>{"Lookalike", "Other", "Replacement"}));
}

TEST_F(ImapTest, CraftedIdentifiersAreRefused) {
    Put(Message("Mine"), "1000.M1P1.test");
    auto rows = Contents(*Inbox(), {PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1u);
    const auto parts = *ParseEntryId(*rows[0][0].Bin());
    const std::vector<EntryId> crafted = {
        MakeMessageEntryId(MakeStoreUid("imap", "eve@127.0.0.1:143/"), parts.folder, parts.message),
        MakeMessageEntryId(parts.store, parts.folder, "1:2:3"),
        MakeMessageEntryId(parts.store, parts.folder, "0:0"),
        MakeMessageEntryId(parts.store, parts.folder, "99999999999:1"),
        MakeMessageEntryId(parts.store, "INBOX\r\nA1 LOGOUT", parts.message),
        MakeMessageEntryId(parts.store, "*", parts.message),
        MakeFolderEntryId(parts.store, ""),
    };
    for (const auto& id : crafted) {
        std::shared_ptr<IUnknown> obj;
        EXPECT_EQ(Store().OpenEntry(id, Iid::None, 0, nullptr, obj), MAPI_E_INVALID_ENTRYID);
    }
    // With a root folder, a mailbox outside it is refused as well.
    UseAccount("store tls = none\nstore root folder = Jobs\n");
    std::shared_ptr<IUnknown> obj;
    const auto narrowed =
        MakeStoreUid("imap", "jane@127.0.0.1:" + std::to_string(server_->port()) + "/Jobs");
    EXPECT_EQ(Store().OpenEntry(MakeFolderEntryId(narrowed, "INBOX"), Iid::None, 0, nullptr, obj),
              MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(
        Store().OpenEntry(MakeFolderEntryId(narrowed, "Jobs.Applied"), Iid::None, 0, nullptr, obj),
        S_OK);
}

TEST_F(ImapTest, ARenumberedMailboxIsAClearErrorNeverAnotherMessage) {
    Put(Message("First"), "1000.M1P1.test");
    auto rows = Contents(*Inbox(), {PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1u);
    const EntryId id = *rows[0][0].Bin();
    Reopen();
    server_->Stop();
    server_->ForgetUids(root_.string());
    std::string why;
    ASSERT_TRUE(server_->Start(why)) << why;
    std::shared_ptr<IUnknown> obj;
    ASSERT_EQ(Store().OpenEntry(id, Iid::IMessage, 0, nullptr, obj), MAPI_E_OBJECT_CHANGED);
    std::optional<MapiErrorInfo> info;
    Store().GetLastError(MAPI_E_OBJECT_CHANGED, 0, info);
    ASSERT_TRUE(info);
    EXPECT_NE(info->error.find("UIDVALIDITY"), std::string::npos) << info->error;
}

TEST_F(ImapTest, ReadsReconnectAfterTheServerRestarts) {
    Put(Message("Survivor", "Still here.\n"), "1000.M1P1.test");
    auto rows = Contents(*Inbox(), {PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1u);
    server_->Kill();
    std::string why;
    ASSERT_TRUE(server_->Start(why)) << why;
    auto message = OpenMessage(*rows[0][0].Bin());
    ASSERT_TRUE(message);
    EXPECT_EQ(Body(*message), "Still here.\n");
    ASSERT_EQ(message->SetReadFlag(SUPPRESS_RECEIPT), S_OK);

    // While the server stays away, the failure says so.
    server_->Kill();
    std::optional<PropValue> v;
    auto inbox = Inbox();
    std::shared_ptr<IMAPITable> table;
    EXPECT_EQ(inbox->GetContentsTable(0, table), MAPI_E_NETWORK_ERROR);
    std::optional<MapiErrorInfo> info;
    inbox->GetLastError(MAPI_E_NETWORK_ERROR, 0, info);
    ASSERT_TRUE(info);
    EXPECT_NE(info->error.find("127.0.0.1"), std::string::npos) << info->error;
}

TEST_F(ImapTest, AMessageExpungedByAnotherClientIsReportedGone) {
    Put(Message("Going"), "1000.M1P1.test");
    auto rows = Contents(*Inbox(), {PR_ENTRYID});
    ASSERT_EQ(rows.size(), 1u);
    auto message = OpenMessage(*rows[0][0].Bin());
    ASSERT_TRUE(message);
    // Another client removes it (after this one opened it, and before).
    ExpungeElsewhere();
    EXPECT_EQ(message->SetReadFlag(SUPPRESS_RECEIPT), MAPI_E_OBJECT_DELETED);
    std::shared_ptr<IUnknown> obj;
    EXPECT_EQ(Store().OpenEntry(*rows[0][0].Bin(), Iid::IMessage, 0, nullptr, obj),
              MAPI_E_NOT_FOUND);
}

// A 20 MB attachment read part by part over the server: the bytes are the
// attachment's, and no more than a chunk or two was held at any time.
TEST_F(ImapTest, ALargeAttachmentIsReadInChunksOfItsPart) {
    std::string pdf(20u << 20, '\0');
    for (std::size_t i = 0; i < pdf.size(); ++i) {
        pdf[i] = static_cast<char>((i * 7919u) >> 5);
    }
    Put("From: ann@example.org\nSubject: Big CV\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\n"
        "See the CV.\n--b\nContent-Type: application/pdf; name=\"cv.pdf\"\n"
        "Content-Transfer-Encoding: base64\n\n" +
            Base64Lines(pdf) + "--b--\n",
        "1000.M1P1.test");
    auto client = OtherClient();
    ASSERT_EQ(client->Open(), S_OK) << client->Failure();
    imap::SelectedInfo info;
    ASSERT_EQ(client->Select("INBOX", info), S_OK);
    std::vector<std::uint32_t> uids;
    ASSERT_EQ(client->Uids(uids), S_OK);
    ASSERT_EQ(uids.size(), 1u);

    constexpr std::uint32_t kChunk = 256u << 10;
    std::size_t largestChunk = 0;
    mime::ChunkedDecodeStream stream(
        mime::TransferEncoding::Base64, kChunk,
        [&](std::uint64_t offset, std::uint32_t length, std::string& chunk) {
            const HRESULT hr = client->FetchPart(uids[0], {2}, offset, length, chunk);
            largestChunk = std::max(largestChunk, chunk.size());
            return hr;
        });
    std::string read;
    std::string buffer(1u << 16, '\0');
    std::uint32_t n = 0;
    do {
        ASSERT_EQ(stream.Read(buffer.data(), 1u << 16, &n), S_OK) << client->Failure();
        read.append(buffer.data(), n);
    } while (n > 0);
    EXPECT_TRUE(read == pdf) << read.size() << " bytes read of " << pdf.size();
    EXPECT_EQ(largestChunk, kChunk);
    EXPECT_LE(stream.LargestHeld(), 2u * kChunk);

    // The text part by its number; a message that is gone is reported so.
    std::string text;
    ASSERT_EQ(client->FetchPart(uids[0], {1}, 0, 100, text), S_OK);
    EXPECT_EQ(text, "See the CV.");
    ASSERT_EQ(client->Remove(uids[0]), S_OK);
    EXPECT_EQ(client->FetchPart(uids[0], {2}, 0, 100, text), MAPI_E_NOT_FOUND);
}

// Quoted-printable with soft line breaks, as mailers write long texts.
std::string QuotedPrintableLines(const std::string& text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    std::size_t column = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            out += '\n';
            column = 0;
            continue;
        }
        if (column >= 72) {
            out += "=\n";
            column = 0;
        }
        if (c >= 33 && c <= 126 && c != '=') {
            out += ch;
            ++column;
        } else {
            out += {'=', kHex[c >> 4], kHex[c & 15]};
            column += 3;
        }
    }
    return out + "\n";
}

// A message of many megabytes is read without its large attachments: they
// come from the server a piece at a time when opened, byte for byte, and
// never in one answer; the body, the small parts, an attached message and the
// message's own bytes are as when read whole.
TEST_F(ImapTest, ALargeMessageLeavesItsLargeAttachmentsOnTheServerUntilRead) {
    std::string pdf(12u << 20, '\0');
    for (std::size_t i = 0; i < pdf.size(); ++i) {
        pdf[i] = static_cast<char>((i * 7919u) >> 5);
    }
    std::string letter;
    for (int i = 0; letter.size() < (600u << 10); ++i) {
        letter += "Line " + std::to_string(i) + ": a=b, caf\xc3\xa9 and tabs\t and more text\n";
    }
    const std::string reference = Message("Reference", "A reference.\n");
    const std::string original =
        "From: ann@example.org\nSubject: Big CV\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=\"out\"\n\nPreamble.\n--out\n"
        "Content-Type: multipart/alternative; boundary=\"alt\"\n\n--alt\n"
        "Content-Type: text/plain; charset=utf-8\n\nSee the CV.\n--alt\n"
        "Content-Type: text/html\n\n<p>See the CV.</p>\n--alt--\n--out\n"
        "Content-Type: application/pdf; name=\"cv.pdf\"\nContent-Transfer-Encoding: base64\n\n" +
        Base64Lines(pdf) +
        "--out\nContent-Type: text/plain; name=\"notes.txt\"\n\nsmall notes\n--out\n"
        "Content-Type: message/rfc822\n\n" +
        reference +
        "--out\nContent-Type: text/plain; charset=utf-8\nContent-Disposition: attachment; "
        "filename=\"letter.txt\"\nContent-Transfer-Encoding: quoted-printable\n\n" +
        QuotedPrintableLines(letter) + "--out--\n";
    Put(original, "1000.M1P1.test");

    imap::Connection::ResetLargestAnswer();
    auto message = OnlyMessage();
    ASSERT_TRUE(message);
    EXPECT_EQ(Body(*message), "See the CV."); // the line end belongs to the boundary
    std::shared_ptr<IMAPITable> table;
    ASSERT_EQ(message->GetAttachmentTable(0, table), S_OK);
    RowSet rows;
    const PropTagArray cols{PR_ATTACH_LONG_FILENAME, PR_ATTACH_METHOD, PR_ATTACH_SIZE};
    ASSERT_EQ(HrQueryAllRows(*table, &cols, nullptr, 0, rows), S_OK);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(*rows[0][0].Text(), "cv.pdf");
    EXPECT_NEAR(*rows[0][2].Long(), static_cast<double>(pdf.size()), pdf.size() / 100.0);
    EXPECT_EQ(*rows[1][0].Text(), "notes.txt");
    EXPECT_EQ(*rows[2][1].Long(), static_cast<std::int32_t>(ATTACH_EMBEDDED_MSG));
    EXPECT_EQ(*rows[3][0].Text(), "letter.txt");

    auto content = [&](std::uint32_t number) {
        std::shared_ptr<IAttach> attach;
        EXPECT_EQ(message->OpenAttach(number, Iid::IAttachment, 0, attach), S_OK);
        std::shared_ptr<IUnknown> obj;
        EXPECT_EQ(attach->OpenProperty(PR_ATTACH_DATA_BIN, Iid::IStream, 0, 0, obj), S_OK);
        auto stream = As<IStream>(obj);
        return stream ? ReadStream(*stream) : std::string("<no stream>");
    };
    EXPECT_TRUE(content(0) == pdf);
    EXPECT_EQ(content(1), "small notes");
    EXPECT_TRUE(content(3) == letter);
    std::shared_ptr<IAttach> attach;
    ASSERT_EQ(message->OpenAttach(2, Iid::IAttachment, 0, attach), S_OK);
    std::shared_ptr<IUnknown> inner;
    ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_OBJ, Iid::IMessage, 0, 0, inner), S_OK);
    EXPECT_EQ(Text(*As<IMessage>(inner), PR_SUBJECT), "Reference");
    // Its own bytes (for a move to another store) are the message whole.
    std::shared_ptr<IStream> raw;
    ASSERT_EQ(message->OpenRawStream(raw), S_OK);
    EXPECT_TRUE(ReadStream(*raw) == original);
    // Nothing the size of the attachment travelled in one answer.
    EXPECT_LT(imap::Connection::LargestAnswer(), 2u << 20);
    auto files = MessageFiles(root_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().find(",S"), std::string::npos) << files[0];
}

// A large message that is one attachment alone (its body is part 1), and one
// whose large text the server takes for an attachment but the MIME reading
// takes for the body (an odd parameter name): the first is read in parts,
// the second whole, so that its body is never lost.
TEST_F(ImapTest, LargeMessagesOfOtherShapesReadAsWhenReadWhole) {
    std::string data(2u << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>((i * 2246822519u) >> 11);
    }
    Put("From: ann@example.org\nSubject: Alone\nMIME-Version: 1.0\nContent-Type: "
        "application/zip; name=\"all.zip\"\nContent-Transfer-Encoding: base64\n\n" +
            Base64Lines(data),
        "1000.M1P1.test");
    std::string text;
    for (int i = 0; text.size() < (2u << 20); ++i) {
        text += "Line " + std::to_string(i) + " of a long letter.\n";
    }
    Put("From: ann@example.org\nSubject: Long\nMIME-Version: 1.0\nContent-Type: multipart/mixed; "
        "boundary=\"b\"\n\n--b\nContent-Type: text/plain; namesake=\"x\"\n\n" +
            text + "--b--\n",
        "1001.M2P1.test");
    std::map<std::string, std::shared_ptr<IMessage>> bySubject;
    for (const auto& r : Contents(*Inbox(), {PR_SUBJECT, PR_ENTRYID})) {
        bySubject[*r[0].Text()] = OpenMessage(*r[1].Bin());
    }
    ASSERT_EQ(bySubject.size(), 2u);

    imap::Connection::ResetLargestAnswer();
    IMessage& alone = *bySubject.at("Alone");
    std::shared_ptr<IAttach> attach;
    ASSERT_EQ(alone.OpenAttach(0, Iid::IAttachment, 0, attach), S_OK);
    EXPECT_EQ(Text(*attach, PR_ATTACH_LONG_FILENAME), "all.zip");
    std::shared_ptr<IUnknown> obj;
    ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_BIN, Iid::IStream, 0, 0, obj), S_OK);
    EXPECT_TRUE(ReadStream(*As<IStream>(obj)) == data);
    EXPECT_LT(imap::Connection::LargestAnswer(), 2u << 20);

    EXPECT_TRUE(Body(*bySubject.at("Long")) == text.substr(0, text.size() - 1));
}

// A new subject or body of a large message: the server puts the new texts
// and the old large parts together, so the message never travels; a server
// that cannot do that gets the whole message as before.  Either way the rest
// of the message is the same to the byte and the read flag stays.
TEST_F(ImapTest, ChangesToALargeMessageKeepItsLargePartsOnTheServer) {
    std::string pdf(3u << 20, '\0');
    for (std::size_t i = 0; i < pdf.size(); ++i) {
        pdf[i] = static_cast<char>((i * 40503u) >> 7);
    }
    const std::string body =
        "--b\nContent-Type: text/plain\n\nSee the CV.\n--b\nContent-Type: application/pdf; "
        "name=\"cv.pdf\"\nContent-Transfer-Encoding: base64\n\n" +
        Base64Lines(pdf) + "--b--\n";
    const std::string original = "From: ann@example.org\nSubject: Big CV\nMIME-Version: 1.0\n"
                                 "Content-Type: multipart/mixed; boundary=\"b\"\n\n" +
                                 body;
    for (const bool catenate : {true, false}) {
        SCOPED_TRACE(catenate ? "CATENATE" : "without CATENATE");
        if (!catenate) {
            server_.reset();
            server_ = std::make_unique<DovecotServer>(root_.string());
            server_->AnnounceCapabilities("IMAP4rev1 LITERAL+ SASL-IR ID ENABLE IDLE UIDPLUS MOVE");
            std::string why;
            ASSERT_TRUE(server_->Start(why)) << why;
            UseAccount("store tls = none\n");
        }
        for (const auto& f : MessageFiles(root_)) {
            fs::remove(f);
        }
        Put(original, catenate ? "1000.M1P1.test" : "1001.M2P1.test", {}, "S");
        auto message = OnlyMessage();
        ASSERT_TRUE(message);
        imap::Connection::ResetLargestAnswer();
        ASSERT_EQ(HrSetOneProp(*message, PropValue{PR_SUBJECT, std::string("*QF* Big CV")}), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
        if (catenate) {
            EXPECT_LT(imap::Connection::LargestAnswer(), 2u << 20);
        }
        EXPECT_EQ(Subjects(*Inbox()), (std::vector<std::string>{"*QF* Big CV"}));
        const auto files = MessageFiles(root_);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_NE(files[0].filename().string().find(",S"), std::string::npos);
        std::string stored = ReadFileBytes(files[0].string());
        stored.erase(std::remove(stored.begin(), stored.end(), '\r'), stored.end());
        const std::size_t blank = stored.find("\n\n");
        ASSERT_NE(blank, std::string::npos);
        EXPECT_NE(stored.substr(0, blank).find("Subject: *QF* Big CV"), std::string::npos);
        EXPECT_TRUE(stored.substr(blank + 2) == body) << stored.size() << " bytes stored";
        EXPECT_EQ(Text(*message, PR_SUBJECT), "*QF* Big CV");

        // A note before the body: the new text goes around the attachment.
        imap::Connection::ResetLargestAnswer();
        ASSERT_EQ(HrSetOneProp(*message, PropValue{PR_BODY, std::string("Note.\nSee the CV.")}),
                  S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
        if (catenate) {
            EXPECT_LT(imap::Connection::LargestAnswer(), 2u << 20);
        }
        auto changed = OnlyMessage();
        ASSERT_TRUE(changed);
        EXPECT_EQ(Body(*changed), "Note.\nSee the CV.");
        EXPECT_EQ(Text(*changed, PR_SUBJECT), "*QF* Big CV");
        std::shared_ptr<IAttach> attach;
        ASSERT_EQ(changed->OpenAttach(0, Iid::IAttachment, 0, attach), S_OK);
        std::shared_ptr<IUnknown> obj;
        ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_BIN, Iid::IStream, 0, 0, obj), S_OK);
        EXPECT_TRUE(ReadStream(*As<IStream>(obj)) == pdf);
        EXPECT_EQ(MessageFiles(root_).size(), 1u);
    }
}

TEST_F(ImapTest, LogonFailuresSayWhy) {
    UseAccount("store tls = none\n", 0, "wrong");
    std::string failure = OpenFailure();
    EXPECT_NE(failure.find("Logging in as \"jane\""), std::string::npos) << failure;

    // A profiles file that holds a password must be its owner's alone.
    UseAccount("store tls = none\n");
    ::chmod(profiles_.c_str(), 0644);
    failure = OpenFailure();
    EXPECT_NE(failure.find("may be read by others"), std::string::npos) << failure;

    // So must a password file; its first line is the password.
    const fs::path secret = dir_ / "imap-password";
    WriteFile(secret, std::string(DovecotServer::kPassword) + "\nnot part of it\n");
    WriteFile(profiles_, "[profile Test]\nstore = imap | Work mail | 127.0.0.1\nstore port = " +
                             std::to_string(server_->port()) +
                             "\nstore user = jane\nstore tls = none\nstore password = file " +
                             secret.string() + "\n");
    ::chmod(secret.c_str(), 0640);
    failure = OpenFailure();
    EXPECT_NE(failure.find("The password file " + secret.string()), std::string::npos) << failure;
    ::chmod(secret.c_str(), 0600);
    EXPECT_EQ(OpenFailure(), "");
}

// A server that greets, then answers nonsense.
TEST_F(ImapTest, AServerAnsweringGarbageIsAClearError) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::thread serve([listener] {
        const int c = ::accept(listener, nullptr, nullptr);
        const char greeting[] = "* OK ready\r\n";
        ::send(c, greeting, sizeof greeting - 1, MSG_NOSIGNAL);
        char buf[512];
        ::recv(c, buf, sizeof buf, 0);
        const char garbage[] = "\x01\x02 ((( not imap }}}\r\n* 99999999999999999999 FETCH (\r\n";
        ::send(c, garbage, sizeof garbage - 1, MSG_NOSIGNAL);
        ::close(c);
    });
    UseAccount("store tls = none\n", ntohs(addr.sin_port));
    const std::string failure = OpenFailure();
    serve.join();
    ::close(listener);
    EXPECT_FALSE(failure.empty());
    EXPECT_NE(failure.find("127.0.0.1"), std::string::npos) << failure;
}

TEST_F(ImapTest, CertificatesAreCheckedUnlessTheProfileSaysOtherwise) {
    server_.reset();
    StartServer(true);
    Put(Message("Secret"), "1000.M1P1.test");
    const std::string ca = "store ca file = " + server_->caFile() + "\n";
    UseAccount("store tls = implicit\n" + ca, server_->tlsPort());
    EXPECT_EQ(OpenFailure(), "");
    EXPECT_EQ(Subjects(*Inbox()), (std::vector<std::string>{"Secret"}));
    UseAccount("store tls = starttls\n" + ca, server_->port());
    EXPECT_EQ(OpenFailure(), "");
    EXPECT_EQ(Subjects(*Inbox()), (std::vector<std::string>{"Secret"}));

    // The system's authorities do not know the test's.
    UseAccount("store tls = implicit\n", server_->tlsPort());
    std::string failure = OpenFailure();
    EXPECT_NE(failure.find("is not trusted"), std::string::npos) << failure;
    UseAccount("store tls = starttls\n", server_->port());
    failure = OpenFailure();
    EXPECT_NE(failure.find("is not trusted"), std::string::npos) << failure;
    // Only an explicit setting turns the check off.
    UseAccount("store tls = implicit\nstore verify certificate = no\n", server_->tlsPort());
    EXPECT_EQ(OpenFailure(), "");
}

} // namespace
} // namespace qf::mapi::testing
