// quillfence-batch over an IMAP account: the same mailbox is run once as a
// Maildir read directly and once served by a private Dovecot, in leave, move
// and tag modes with mark-read and an email set aside with a manual note.
// Both runs must write the same files and leave the mailbox the same; the
// server's mailbox is checked through its Maildir on disk.  Also runs that
// move between a Maildir and the account, killed in the middle of a move.  A
// large attachment is saved byte for byte by a run whose memory stays far
// below the attachment's size over IMAP, and below the message's size over a
// Maildir.
#include "app/batch/exit_code.h"
#include "common/fileio.h"
#include "support/dovecot_fixture.h"
#include "support/maildir_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The bytes of a large attachment, made a piece at a time so that the test
// itself never holds them (the run's peak memory is measured against a
// baseline, and a child starts with its parent's).
char LargeByte(std::size_t i) {
    return static_cast<char>((i * 2654435761u) >> 13);
}

// Writes a message with a `size`-byte attachment "cv.bin" into the inbox.
void DeliverLarge(MaildirFixture& box, std::size_t size) {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    AtomicFileWriter file(box.FolderPath("") + "/cur/2000000.M9P1.test:2,");
    file.Write("Received: from mx.example by brindle.example; Tue, 01 Dec 2026 11:00:00 +0000\n"
               "From: Ann <ann@example.org>\nSubject: Big\nDate: Tue, 01 Dec 2026 10:00:00 "
               "+0000\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n"
               "--b\nContent-Type: text/plain\n\nMy CV.\n--b\n"
               "Content-Type: application/octet-stream; name=\"cv.bin\"\n"
               "Content-Disposition: attachment; filename=\"cv.bin\"\n"
               "Content-Transfer-Encoding: base64\n\n");
    std::string lines;
    for (std::size_t at = 0; at < size; at += 57) { // 57 bytes make a line of 76
        for (std::size_t i = at; i < std::min(at + 57, size); i += 3) {
            const auto b = [&](std::size_t n) {
                return n < size ? static_cast<unsigned char>(LargeByte(n)) : 0u;
            };
            const unsigned v = (b(i) << 16) | (b(i + 1) << 8) | b(i + 2);
            lines += {k[(v >> 18) & 63], k[(v >> 12) & 63], i + 1 < size ? k[(v >> 6) & 63] : '=',
                      i + 2 < size ? k[v & 63] : '='};
        }
        lines += '\n';
        if (lines.size() > (1u << 20)) {
            file.Write(lines);
            lines.clear();
        }
    }
    file.Write(lines + "--b--\n");
    file.Commit();
}

// True when the file holds exactly the large attachment's `size` bytes.
bool IsLargeAttachment(const std::string& path, std::size_t size) {
    FileReader reader(path);
    std::size_t at = 0;
    std::string piece;
    while (reader.ReadSome(piece, 1u << 16) > 0) {
        for (const char c : piece) {
            if (at >= size || c != LargeByte(at++)) {
                return false;
            }
        }
        piece.clear();
    }
    return at == size;
}

// The peak resident size of a process's own memory (VmHWM), 0 when it has
// none (it is gone).  Unlike the peak wait4 reports, it leaves out the child
// processes (the word processor) and the parent the process was forked from.
long PeakResidentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

// What a run in leave mode over the server did, and its peak memory.
struct LargeRun {
    int exitCode = -1;
    std::string err;
    long peakKb = 0;
    std::size_t outputs = 0;
    std::vector<std::string> manualCopies;
    int largeCopies = 0;   // copies that hold the large attachment exactly
    std::string large;     // the large message afterwards, LF line ends
    std::string largeText; // and with its text parts decoded
    bool largeRead = false;
};

// quillfence-batch over a private Dovecot (or the Maildir itself, without
// `imap`) serving a small message with a .bin attachment and, with
// `largeSize`, a message with a large one; .bin attachments are saved to the
// manual folder.  The run's peak resident size
// is its last VmHWM seen (the shell execs the program, and the peak only
// grows): the attachments are handled long before the run ends, since the
// word processor takes a while to quit.
LargeRun RunWithLargeMail(std::size_t largeSize, int emailsTo = Settings::kLeaveEmails,
                          const std::string& binAction = "5", bool imap = true) {
    MaildirFixture box;
    ::chmod(box.temp.path().c_str(), 0755);
    Mail small;
    small.subject = "Small";
    small.parts = {{"note.bin", "a small note"}};
    box.Deliver(small);
    if (largeSize > 0) {
        DeliverLarge(box, largeSize);
    }
    std::unique_ptr<DovecotServer> server;
    if (imap) {
        server = std::make_unique<DovecotServer>(box.root);
        std::string why;
        EXPECT_TRUE(server->Start(why)) << why;
        server->WriteProfiles(box.temp.path() + "profiles.ini");
    }
    Settings s = box.settings();
    s.includeAttachments = true;
    s.extensions = {".bin"};
    s.extensionActions = {binAction}; // 5: saved as a file for a person
    s.emailsTo = emailsTo;
    s.readStatus = true;
    s.SaveToFile(box.temp.path() + "run.qfo");
    const std::string dir = box.temp.path();
    const std::string cmd = "cd '" + dir + "' && exec '" QF_BATCH_EXE "' run.qfo >'" + dir +
                            "out' 2>'" + dir + "err' </dev/null";
    LargeRun r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (const long hwm = PeakResidentKb(pid); hwm > 0) {
            r.peakKb = hwm;
        }
        ::usleep(10000);
    }
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = ReadFileBytes(dir + "err");
    for (const auto& e : std::filesystem::directory_iterator(box.manual)) {
        const std::string ext = e.path().extension().string();
        if (ext == ".bin" || ext == ".BIN") {
            r.manualCopies.push_back(e.path().filename().string());
            r.largeCopies += largeSize > 0 && IsLargeAttachment(e.path().string(), largeSize);
        }
    }
    r.outputs = box.OutputNames().size();
    for (const auto& f : box.Messages()) {
        std::string text = ReadFileBytes(f);
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        if (text.find("\nSubject: Big") != std::string::npos ||
            text.find("\nSubject: *QF* Big") != std::string::npos) {
            r.largeText = MaildirFixture::StoredText(f);
            r.large = std::move(text);
            r.largeRead = f.substr(f.rfind(":2,")).find('S') != std::string::npos;
        }
    }
    return r;
}

// The large attachment as it lies in a message: its base64 lines to the end.
std::string EncodedAttachment(const std::string& message) {
    const std::string start = "Content-Transfer-Encoding: base64\n\n";
    const std::size_t at = message.rfind(start);
    return at == std::string::npos ? std::string() : message.substr(at + start.size());
}

// A 50 MB attachment (68 MB on the wire) is saved byte for byte, and the run
// grows by a few pieces of it, not by the message: read whole, the message's
// bytes alone would pass the bound.
TEST(BatchRunOverImap, ALargeAttachmentIsSavedWholeInBoundedMemory) {
    const LargeRun baseline = RunWithLargeMail(0);
    ASSERT_EQ(baseline.exitCode, static_cast<int>(ExitCode::Complete)) << baseline.err;
    constexpr std::size_t kSize = 50u << 20;
    const LargeRun run = RunWithLargeMail(kSize);
    EXPECT_EQ(run.exitCode, static_cast<int>(ExitCode::Complete)) << run.err;
    EXPECT_EQ(run.outputs, 2u);
    EXPECT_EQ(run.manualCopies.size(), 2u);
    EXPECT_EQ(run.largeCopies, 1);
    EXPECT_LT(run.peakKb - baseline.peakKb, 24 * 1024)
        << "peak " << run.peakKb << " kB against " << baseline.peakKb << " kB";
}

// Over a Maildir the message file is read into memory, but nothing more the
// size of the attachment: no copy of the file for the MIME parser, no
// decoded copy, no copy of the content on its way to the file.
TEST(BatchRunOverMaildir, ALargeAttachmentCostsNoMoreThanItsMessage) {
    const LargeRun baseline = RunWithLargeMail(0, Settings::kLeaveEmails, "5", false);
    ASSERT_EQ(baseline.exitCode, static_cast<int>(ExitCode::Complete)) << baseline.err;
    constexpr std::size_t kSize = 30u << 20;
    const LargeRun run = RunWithLargeMail(kSize, Settings::kLeaveEmails, "5", false);
    EXPECT_EQ(run.exitCode, static_cast<int>(ExitCode::Complete)) << run.err;
    EXPECT_EQ(run.largeCopies, 1);
    const long messageKb = static_cast<long>(kSize / 3 * 4 / 76 * 77 / 1024);
    EXPECT_LT(run.peakKb - baseline.peakKb, messageKb + 24 * 1024)
        << "peak " << run.peakKb << " kB against " << baseline.peakKb << " kB";
}

// A large message tagged and marked read, or given a manual note (its
// attachment flagged for a person, which leaves it untagged), changes on the
// server around its attachment: that stays the same to the byte, and the
// run's memory stays bounded.
void ExpectChangedAroundTheAttachment(const std::string& binAction) {
    const LargeRun baseline = RunWithLargeMail(0, Settings::kTagSubject, binAction);
    ASSERT_EQ(baseline.exitCode, static_cast<int>(ExitCode::Complete)) << baseline.err;
    constexpr std::size_t kSize = 20u << 20;
    const LargeRun run = RunWithLargeMail(kSize, Settings::kTagSubject, binAction);
    EXPECT_EQ(run.exitCode, static_cast<int>(ExitCode::Complete)) << run.err;
    EXPECT_EQ(run.outputs, 2u);
    EXPECT_TRUE(run.largeRead);
    MaildirFixture original;
    DeliverLarge(original, kSize);
    const std::string sent = EncodedAttachment(ReadFileBytes(original.Messages().at(0)));
    EXPECT_GT(sent.size(), kSize);
    EXPECT_TRUE(EncodedAttachment(run.large) == sent);
    EXPECT_LT(run.peakKb - baseline.peakKb, 24 * 1024)
        << "peak " << run.peakKb << " kB against " << baseline.peakKb << " kB";
    if (binAction == "2") {
        EXPECT_NE(run.largeText.find("Quillfence: Manual intervention is required"),
                  std::string::npos);
    } else {
        EXPECT_NE(run.large.find("\nSubject: *QF* Big\n"), std::string::npos);
    }
}

TEST(BatchRunOverImap, ALargeMessageIsTaggedInBoundedMemory) {
    ExpectChangedAroundTheAttachment("5");
}

TEST(BatchRunOverImap, ALargeMessageIsNotedInBoundedMemory) {
    ExpectChangedAroundTheAttachment("2");
}

} // namespace
} // namespace qf::testing
