// A process killed at any file-system step of subject, body, read-flag and move
// changes leaves every email whole and present exactly once.
#include "maildir_fixture.h"

#include "platform/messaging/maildir/fsops.h"

#include <csignal>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace qf::mapi::testing {
namespace {

constexpr int kMessages = 3; // one stays, one moves within the store, one to another

std::string Original(int i) {
    return "From: applicant" + std::to_string(i) +
           "@example.org\nTo: jobs@example.com\nSubject: Application " + std::to_string(i) +
           "\nDate: Mon, 01 Jun 2026 10:0" + std::to_string(i) + ":00 +0000\nMessage-ID: <m" +
           std::to_string(i) +
           "@example.org>\nMIME-Version: 1.0\n"
           "Content-Type: multipart/mixed; boundary=\"b\"\n\n"
           "--b\nContent-Type: text/plain; charset=utf-8\n\nDear team, message " +
           std::to_string(i) +
           "\n--b\nContent-Type: application/pdf\n"
           "Content-Disposition: attachment; filename=cv.pdf\n"
           "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQgb3V0ZXI=\n--b--\n";
}

class KillSafety : public MaildirTest {
protected:
    void SetUp() override {
        MaildirTest::SetUp();
        WriteFile(profiles_, "[profile Test]\nstore = maildir | Personal Folders | " +
                                 root_.string() + "\nstore = maildir | Archive | " +
                                 (dir_ / "Archive").string() + "\n");
    }

    void Fill() {
        for (const auto& f : MessageFiles(root_)) {
            fs::remove(f);
        }
        for (const fs::path& p : {root_ / ".Done", dir_ / "Archive"}) {
            fs::remove_all(p);
            MakeMaildir(p);
        }
        fs::remove_all(root_ / "tmp");
        fs::create_directories(root_ / "tmp");
        for (int i = 0; i < kMessages; ++i) {
            Deliver(Original(i), "100" + std::to_string(i) + ".M1P1.host", {}, "new");
        }
    }

    // The root folder of the second store.
    std::shared_ptr<IMAPIFolder> Archive() {
        Store();
        std::shared_ptr<IMAPITable> t;
        RowSet rows;
        const PropTagArray cols{PR_ENTRYID};
        std::shared_ptr<IMsgStore> archive;
        std::shared_ptr<IUnknown> obj;
        if (session_->GetMsgStoresTable(0, t) != S_OK ||
            HrQueryAllRows(*t, &cols, nullptr, 0, rows) != S_OK || rows.size() != 2 ||
            session_->OpenMsgStore(0, *rows[1][0].Bin(), Iid::IMsgStore, 0x94, archive) != S_OK ||
            archive->OpenEntry({}, Iid::IMAPIFolder, 0x18, nullptr, obj) != S_OK) {
            return nullptr;
        }
        return As<IMAPIFolder>(obj);
    }

    // What the run does to each email: tag the subject, add a note to the body,
    // mark it read, and move one in three to a folder of the store, one in three to
    // another store.  Returns the steps taken.
    static int Work(IMsgStore& store, const EntryId& doneId,
                    const std::shared_ptr<IMAPIFolder>& archive) {
        if (!archive) {
            return -1;
        }
        EntryId inboxId;
        if (store.GetReceiveFolder("IPM", 0, inboxId, nullptr) != S_OK) {
            return -1;
        }
        std::shared_ptr<IUnknown> obj;
        if (store.OpenEntry(inboxId, Iid::IMAPIFolder, 0x18, nullptr, obj) != S_OK) {
            return -1;
        }
        auto inbox = As<IMAPIFolder>(obj);
        if (store.OpenEntry(doneId, Iid::IMAPIFolder, 0x18, nullptr, obj) != S_OK) {
            return -1;
        }
        auto done = As<IMAPIFolder>(obj);
        std::shared_ptr<IMAPITable> table;
        RowSet rows;
        const PropTagArray cols{PR_ENTRYID, PR_SUBJECT};
        if (inbox->GetContentsTable(0, table) != S_OK ||
            HrQueryAllRows(*table, &cols, nullptr, 0, rows) != S_OK) {
            return -1;
        }
        int n = 0;
        for (const auto& r : rows) {
            const EntryId id = *r[0].Bin();
            if (store.OpenEntry(id, Iid::IMessage, 0x10, nullptr, obj) != S_OK) {
                return -1;
            }
            auto m = As<IMessage>(obj);
            if (HrSetOneProp(*m, PropValue{PR_SUBJECT, "[done] " + *r[1].Text()}) != S_OK ||
                m->SaveChanges(KEEP_OPEN_READWRITE) != S_OK) {
                return -1;
            }
            std::optional<PropValue> body;
            if (HrGetOneProp(*m, PR_BODY, body) != S_OK ||
                HrSetOneProp(*m, PropValue{PR_BODY, "Note.\n" + *body->Text()}) != S_OK ||
                m->SaveChanges(KEEP_OPEN_READWRITE) != S_OK) {
                return -1;
            }
            if (m->SetReadFlag(SUPPRESS_RECEIPT) != S_OK) {
                return -1;
            }
            std::optional<PropValue> newId;
            const int where = n++ % 3;
            if (where < 2 &&
                (HrGetOneProp(*m, PR_ENTRYID, newId) != S_OK ||
                 inbox->CopyMessages({*newId->Bin()}, Iid::IMAPIFolder, where == 0 ? done : archive,
                                     0, nullptr, MESSAGE_MOVE) != S_OK)) {
                return -1;
            }
        }
        return static_cast<int>(maildir::testing::StepsTaken());
    }

    EntryId DoneId() {
        std::shared_ptr<IMAPITable> t;
        EXPECT_EQ(Inbox()->GetHierarchyTable(0, t), S_OK);
        RowSet rows;
        const PropTagArray cols{PR_ENTRYID};
        EXPECT_EQ(HrQueryAllRows(*t, &cols, nullptr, 0, rows), S_OK);
        return rows.empty() ? EntryId{} : *rows[0][0].Bin();
    }

    // Runs the work in a child that kills itself after `steps` steps (0: never).
    // Returns the child's exit code, or -SIGKILL when it was killed.
    int RunChild(long steps, const EntryId& doneId, int* stepsTaken = nullptr) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            maildir::testing::KillAfterSteps(steps);
            const long before = maildir::testing::StepsTaken();
            const int r = Work(Store(), doneId, Archive());
            const int taken = r < 0 ? r : static_cast<int>(r - before);
            (void)!::write(fds[1], &taken, sizeof taken);
            ::_exit(r < 0 ? 2 : 0);
        }
        ::close(fds[1]);
        int taken = -1;
        (void)!::read(fds[0], &taken, sizeof taken);
        ::close(fds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (stepsTaken != nullptr) {
            *stepsTaken = taken;
        }
        return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
    }

    // Every email once, whole: read back through the platform after a listing.
    void ExpectEveryEmailOnceAndWhole(long steps) {
        Reopen();
        std::map<std::string, int> seen;
        // The source folder is listed first: that finishes what a stopped process
        // left half done.
        for (int which = 0; which < 3; ++which) {
            auto f = which == 0 ? Inbox() : which == 1 ? OpenFolder(DoneId()) : Archive();
            ASSERT_TRUE(f);
            for (const auto& r : Contents(*f, {PR_ENTRYID, PR_SUBJECT})) {
                std::shared_ptr<IUnknown> obj;
                ASSERT_EQ(f->OpenEntry(*r[0].Bin(), Iid::IMessage, 0x10, nullptr, obj), S_OK);
                auto m = As<IMessage>(obj);
                ASSERT_TRUE(m);
                std::optional<PropValue> mid;
                ASSERT_EQ(HrGetOneProp(*m, PR_INTERNET_MESSAGE_ID, mid), S_OK)
                    << "a message without its headers after " << steps << " steps";
                const std::string key = *mid->Text();
                ++seen[key];
                const std::string number = key.substr(2, key.find('@') - 2);
                EXPECT_NE(Text(*m, PR_SUBJECT).find("Application " + number), std::string::npos);
                EXPECT_NE(Body(*m).find("Dear team, message " + number), std::string::npos)
                    << "steps " << steps;
                std::shared_ptr<IAttach> a;
                ASSERT_EQ(m->OpenAttach(0, Iid::IAttachment, 0x18, a), S_OK);
                std::shared_ptr<IUnknown> s;
                ASSERT_EQ(a->OpenProperty(PR_ATTACH_DATA_BIN, Iid::IStream, 0, 0, s), S_OK);
                EXPECT_EQ(ReadStream(*As<IStream>(s)), "%PDF-1.4 outer");
            }
            // After the listing each file is exactly one email.
        }
        ASSERT_EQ(seen.size(), static_cast<std::size_t>(kMessages)) << "steps " << steps;
        for (const auto& [id, count] : seen) {
            EXPECT_EQ(count, 1) << id << " after " << steps << " steps";
        }
        EXPECT_EQ(MessageFiles(root_).size() + MessageFiles(root_ / ".Done").size() +
                      MessageFiles(dir_ / "Archive").size(),
                  static_cast<std::size_t>(kMessages))
            << "steps " << steps;
    }
};

TEST_F(KillSafety, EveryEmailWholeAndOnceWhereverTheProcessIsKilled) {
    Fill();
    const EntryId doneId = DoneId();
    int total = 0;
    ASSERT_EQ(RunChild(0, doneId, &total), 0);
    ASSERT_GT(total, 4 * kMessages);
    RecordProperty("steps", total);
    ExpectEveryEmailOnceAndWhole(0);
    for (long k = 1; k <= total; ++k) {
        Fill();
        Reopen();
        ASSERT_EQ(RunChild(k, doneId), -SIGKILL) << "not killed at step " << k;
        ExpectEveryEmailOnceAndWhole(k);
        if (HasFatalFailure() || HasNonfatalFailure()) {
            break;
        }
    }
}

} // namespace
} // namespace qf::mapi::testing
