// quillfence-batch over an IMAP account: the same mailbox is run once as a
// Maildir read directly and once served by a private Dovecot, in leave, move
// and tag modes with mark-read and an email set aside with a manual note.
// Both runs must write the same files and leave the mailbox the same; the
// server's mailbox is checked through its Maildir on disk.  Also runs that
// move between a Maildir and the account, killed in the middle of a move.
#include "app/batch/exit_code.h"
#include "common/fileio.h"
#include "support/dovecot_fixture.h"
#include "support/maildir_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>

namespace qf::testing {
namespace {

using batch::ExitCode;

// What a run wrote and left in the mailbox.
struct Result {
    int exitCode = -1;
    std::string err;
    std::vector<std::pair<std::string, std::string>> outputs; // name, bytes
    std::vector<std::string> inbox;                           // subjects
    std::vector<std::string> processed;
    int unread = 0;
    std::string zippedText; // the stored email set aside, with its note

    bool operator==(const Result& o) const {
        return exitCode == o.exitCode && outputs == o.outputs && inbox == o.inbox &&
               processed == o.processed && unread == o.unread;
    }
};

// The manual note in a stored email, without the output file it names.
std::string NoteOf(const std::string& text) {
    const std::string marker = "Quillfence: Manual intervention is required";
    const auto at = text.find(marker);
    return at == std::string::npos ? "" : text.substr(at, text.find(" (output file", at) - at);
}

Result RunOver(bool imap, int emailsTo) {
    MaildirFixture box;
    ::chmod(box.temp.path().c_str(), 0755);
    box.MakeFolder("Processed");
    for (const char* subject : {"One", "Two"}) {
        Mail m;
        m.subject = subject;
        box.Deliver(m);
    }
    Mail zipped;
    zipped.subject = "Zipped";
    zipped.parts = {{"all.zip", "PK\x03\x04"}};
    box.Deliver(zipped);

    std::unique_ptr<DovecotServer> server;
    if (imap) {
        server = std::make_unique<DovecotServer>(box.root);
        std::string why;
        EXPECT_TRUE(server->Start(why)) << why;
        server->WriteProfiles(box.temp.path() + "profiles.ini");
    }
    Settings s = box.settings();
    s.includeAttachments = true;
    s.emailsTo = emailsTo;
    s.readStatus = true;
    if (emailsTo == Settings::kMoveEmails) {
        s.destinationFolder = box.FindFolder("Processed");
        s.messageDestination = "Processed";
    }
    s.SaveToFile(box.temp.path() + "run.qfo");
    const std::string dir = box.temp.path();
    const std::string cmd = "cd '" + dir + "' && '" QF_BATCH_EXE "' run.qfo >'" + dir + "out' 2>'" +
                            dir + "err' </dev/null";
    const int status = std::system(cmd.c_str());

    Result r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = ReadFileBytes(dir + "err");
    for (const auto& name : box.OutputNames()) {
        r.outputs.emplace_back(name, ReadFileBytes(box.output + name));
    }
    r.inbox = box.Subjects();
    r.processed = box.Subjects("Processed");
    std::vector<std::string> files = box.Messages();
    for (const auto& f : box.Messages("Processed")) {
        files.push_back(f);
    }
    for (const auto& f : files) {
        r.unread += f.substr(f.rfind(":2,") + 3).find('S') == std::string::npos ? 1 : 0;
        const std::string text = MaildirFixture::StoredText(f);
        if (text.find("\nSubject: Zipped") != std::string::npos ||
            text.find("Zipped\n") != std::string::npos) {
            r.zippedText = text;
        }
    }
    return r;
}

void ExpectTheSameRun(int emailsTo, const std::vector<std::string>& inbox,
                      const std::vector<std::string>& processed) {
    const Result local = RunOver(false, emailsTo);
    const Result server = RunOver(true, emailsTo);
    EXPECT_EQ(server.exitCode, static_cast<int>(ExitCode::Complete)) << server.err;
    EXPECT_EQ(server.outputs.size(), 3u);
    EXPECT_EQ(server.inbox, inbox);
    EXPECT_EQ(server.processed, processed);
    EXPECT_EQ(server.unread, 0);
    EXPECT_EQ(NoteOf(server.zippedText),
              "Quillfence: Manual intervention is required (Attachment is flagged for manual "
              "handling) for attachment \"all.zip\"")
        << server.zippedText;
    // The same files, byte for byte, and the same mailbox afterwards.
    EXPECT_TRUE(server == local) << local.err << server.err;
    EXPECT_EQ(NoteOf(server.zippedText), NoteOf(local.zippedText));
}

TEST(BatchRunOverImap, LeaveEndsAsOverMaildir) {
    ExpectTheSameRun(Settings::kLeaveEmails, {"One", "Two", "Zipped"}, {});
}

TEST(BatchRunOverImap, MoveEndsAsOverMaildir) {
    ExpectTheSameRun(Settings::kMoveEmails, {"Zipped"}, {"One", "Two"});
}

TEST(BatchRunOverImap, TagEndsAsOverMaildir) {
    ExpectTheSameRun(Settings::kTagSubject, {"*QF* One", "*QF* Two", "Zipped"}, {});
}

// Runs in move mode between a Maildir and an IMAP account of one profile,
// killed (SIGKILL, from strace) in the middle of a move, then run again.
class KilledMoveRun {
public:
    static constexpr const char* kSubjects[] = {"Alpha", "Bravo", "Charlie"};

    // `toAccount`: the emails wait in the Maildir and go to the account's
    // folder "Done"; else the other way round.
    explicit KilledMoveRun(bool toAccount) {
        ::chmod(box_.temp.path().c_str(), 0755);
        serverRoot_ = box_.temp.path() + "Server";
        const std::string done = toAccount ? serverRoot_ + "/.Done" : box_.FolderPath("Done");
        for (const std::string& folder : {serverRoot_, done}) {
            for (const char* sub : {"/cur", "/new", "/tmp"}) {
                std::filesystem::create_directories(folder + sub);
            }
        }
        source_ = toAccount ? box_.root : serverRoot_;
        done_ = done;
        for (const char* subject : kSubjects) {
            Mail m;
            m.subject = subject;
            m.body = std::string("Dear team, ") + subject + " here.\n";
            const std::string name = box_.Deliver(m);
            const std::string file = source_ + "/cur/" + name.substr(name.rfind('/') + 1);
            std::filesystem::rename(name, file);
            first_ = first_.empty() ? file : first_;
        }
        server_ = std::make_unique<DovecotServer>(serverRoot_);
        std::string why;
        EXPECT_TRUE(server_->Start(why)) << why;
        const std::string lines = server_->StoreLines();
        const std::string account =
            "store = imap | Work mail | 127.0.0.1\n" + lines.substr(lines.find('\n') + 1);
        const std::string local = "store = maildir | Local | " + box_.root + "\n";
        const std::string profiles = box_.temp.path() + "profiles.ini";
        // The source is the default store: the run takes its inbox.
        WriteFileAtomic(profiles, "[profile Test]\ndefault = yes\n" +
                                      (toAccount ? local + account : account + local));
        ::chmod(profiles.c_str(), 0600);
        Settings s = box_.settings();
        s.emailsTo = Settings::kMoveEmails;
        s.destinationFolder = box_.FindFolder("Done");
        s.messageDestination = "Done";
        EXPECT_FALSE(s.destinationFolder.folderId.IsBlank());
        s.SaveToFile(box_.temp.path() + "run.qfo");
    }

    const std::string& first() const { return first_; }
    std::string FirstNote() const {
        const std::string name = first_.substr(first_.rfind('/') + 1);
        return box_.root + "/tmp/" + name.substr(0, name.rfind(':')) + ".qfmove";
    }
    const std::string& done() const { return done_; }
    const std::string& source() const { return source_; }

    // Runs quillfence-batch with `prefix`; its wait status.
    int Run(const std::string& prefix = "") const {
        const std::string dir = box_.temp.path();
        return std::system(("cd '" + dir + "' && " + prefix +
                            "'" QF_BATCH_EXE "' --yes run.qfo >'" + dir + "out' 2>'" + dir +
                            "err' </dev/null")
                               .c_str());
    }
    // Runs it killed at the `when`-th `syscall` on `path`; true when it was.
    bool RunKilledAt(const std::string& syscall, const std::string& path, int when) const {
        const int status =
            Run("strace -f -qq -o /dev/null -P '" + path + "' -e trace=" + syscall +
                " -e inject=" + syscall + ":signal=SIGKILL:when=" + std::to_string(when) + " ");
        return WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGKILL;
    }
    std::string Err() const { return ReadFileBytes(box_.temp.path() + "err"); }

    static std::vector<std::string> Files(const std::string& folder) {
        std::vector<std::string> found;
        for (const char* sub : {"/cur", "/new"}) {
            for (const auto& e : std::filesystem::directory_iterator(folder + sub)) {
                found.push_back(e.path().string());
            }
        }
        return found;
    }

    // After the rerun: each email once in "Done", whole, none left where they
    // were, and the first email's text written once.
    void ExpectEachEmailOnceAndTheFirstWrittenOnce() const {
        EXPECT_TRUE(Files(source_).empty());
        std::map<std::string, int> copies;
        for (const auto& f : Files(done_)) {
            const std::string text = MaildirFixture::StoredText(f);
            for (const char* subject : kSubjects) {
                copies[subject] +=
                    text.find(std::string("Dear team, ") + subject + " here.") != std::string::npos;
            }
        }
        EXPECT_EQ(copies, (std::map<std::string, int>{{"Alpha", 1}, {"Bravo", 1}, {"Charlie", 1}}));
        int texts = 0;
        for (const auto& name : box_.OutputNames()) {
            texts += ReadFileBytes(box_.output + name).find("Alpha here.") != std::string::npos;
        }
        EXPECT_EQ(texts, 1) << "the email cut short is not written again";
    }

private:
    MaildirFixture box_;
    std::string serverRoot_;
    std::string source_;
    std::string done_;
    std::string first_;
    std::unique_ptr<DovecotServer> server_;
};

bool HaveStrace() {
    return std::system("command -v strace >/dev/null") == 0;
}

// From the Maildir to the account, killed between storing the copy on the
// server and removing the original, or between removing the original and its
// note (removed once before it is written, a leftover, and once after).
TEST(BatchRunOverImap, AMoveToTheAccountKilledMidwayIsFinishedByTheRerun) {
    if (!HaveStrace()) {
        GTEST_SKIP() << "needs strace";
    }
    for (const bool atNote : {false, true}) {
        SCOPED_TRACE(atNote ? "killed at removing the note" : "killed at removing the original");
        KilledMoveRun run(true);
        ASSERT_TRUE(atNote ? run.RunKilledAt("unlink", run.FirstNote(), 2)
                           : run.RunKilledAt("unlink", run.first(), 1))
            << run.Err();
        ASSERT_FALSE(KilledMoveRun::Files(run.done()).empty()) << "the copy was stored";
        EXPECT_EQ(std::filesystem::exists(run.first()), !atNote);
        ASSERT_EQ(run.Run(), static_cast<int>(ExitCode::Complete) << 8) << run.Err();
        run.ExpectEachEmailOnceAndTheFirstWrittenOnce();
    }
}

// From the account to the Maildir, killed once the copy is in the Maildir
// folder (at the sync of its cur/), before the original is removed on the server.
TEST(BatchRunOverImap, AMoveFromTheAccountKilledMidwayIsFinishedByTheRerun) {
    if (!HaveStrace()) {
        GTEST_SKIP() << "needs strace";
    }
    KilledMoveRun run(false);
    ASSERT_TRUE(run.RunKilledAt("fsync", run.done() + "/cur", 1)) << run.Err();
    ASSERT_EQ(KilledMoveRun::Files(run.done()).size(), 1u) << "the copy was stored";
    // The server renamed the original when it marked it (keywords are letters
    // in Dovecot's file names): it is still one of the three.
    ASSERT_EQ(KilledMoveRun::Files(run.source()).size(), 3u) << "the original was not removed";
    ASSERT_EQ(run.Run(), static_cast<int>(ExitCode::Complete) << 8) << run.Err();
    run.ExpectEachEmailOnceAndTheFirstWrittenOnce();
}

} // namespace
} // namespace qf::testing
