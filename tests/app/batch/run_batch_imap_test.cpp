// quillfence-batch over an IMAP account: the same mailbox is run once as a
// Maildir read directly and once served by a private Dovecot, in leave, move
// and tag modes with mark-read and an email set aside with a manual note.
// Both runs must write the same files and leave the mailbox the same; the
// server's mailbox is checked through its Maildir on disk.
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

// A run in move mode from a Maildir to a folder of an IMAP account of the same
// profile, killed (SIGKILL, from strace) between storing an email's copy on the
// server and removing its original, or between removing the original and its
// note, then run again: every email is once in the account's folder, whole,
// none is left in the Maildir, and the email cut short is not written again.
TEST(BatchRunOverImap, AMoveToTheAccountKilledMidwayIsFinishedByTheRerun) {
    if (std::system("command -v strace >/dev/null") != 0) {
        GTEST_SKIP() << "needs strace";
    }
    const auto files = [](const std::string& folder) {
        std::vector<std::string> found;
        for (const char* sub : {"/cur", "/new"}) {
            for (const auto& e : std::filesystem::directory_iterator(folder + sub)) {
                found.push_back(e.path().string());
            }
        }
        return found;
    };
    for (const bool atNote : {false, true}) {
        SCOPED_TRACE(atNote ? "killed at removing the note" : "killed at removing the original");
        MaildirFixture box;
        ::chmod(box.temp.path().c_str(), 0755);
        const std::string serverRoot = box.temp.path() + "Server";
        for (const std::string& folder : {serverRoot, serverRoot + "/.Done"}) {
            for (const char* sub : {"/cur", "/new", "/tmp"}) {
                std::filesystem::create_directories(folder + sub);
            }
        }
        std::string cut;
        for (const char* subject : {"Alpha", "Bravo", "Charlie"}) {
            Mail m;
            m.subject = subject;
            m.body = std::string("Dear team, ") + subject + " here.\n";
            const std::string file = box.Deliver(m);
            cut = cut.empty() ? file : cut;
        }
        DovecotServer server(serverRoot);
        std::string why;
        ASSERT_TRUE(server.Start(why)) << why;
        const std::string profiles = box.temp.path() + "profiles.ini";
        WriteFileAtomic(profiles,
                        "[profile Test]\ndefault = yes\nstore = maildir | Local | " + box.root +
                            "\nstore = imap | Work mail | 127.0.0.1\n" +
                            server.StoreLines().substr(server.StoreLines().find('\n') + 1));
        ::chmod(profiles.c_str(), 0600);
        Settings s = box.settings();
        s.emailsTo = Settings::kMoveEmails;
        s.destinationFolder = box.FindFolder("Done");
        s.messageDestination = "Done";
        ASSERT_FALSE(s.destinationFolder.folderId.IsBlank());
        s.SaveToFile(box.temp.path() + "run.qfo");

        const std::string unique =
            cut.substr(cut.rfind('/') + 1, cut.rfind(':') - cut.rfind('/') - 1);
        const std::string target = atNote ? box.root + "/tmp/" + unique + ".qfmove" : cut;
        const std::string dir = box.temp.path();
        const auto run = [&](const std::string& prefix) {
            return std::system(("cd '" + dir + "' && " + prefix +
                                "'" QF_BATCH_EXE "' --yes run.qfo >'" + dir + "out' 2>'" + dir +
                                "err' </dev/null")
                                   .c_str());
        };
        // The note is removed once before it is written (a leftover), once after the move.
        const int killed = run(
            "strace -f -qq -o /dev/null -P '" + target +
            "' -e trace=unlink -e inject=unlink:signal=SIGKILL:when=" + (atNote ? "2" : "1") + " ");
        ASSERT_TRUE(WIFEXITED(killed) && WEXITSTATUS(killed) == 128 + SIGKILL)
            << killed << ReadFileBytes(dir + "err");
        const std::vector<std::string> doneBefore = files(serverRoot + "/.Done");
        ASSERT_FALSE(doneBefore.empty()) << "the copy was stored before the kill";
        EXPECT_EQ(std::filesystem::exists(cut), !atNote);

        const int rerun = run("");
        ASSERT_TRUE(WIFEXITED(rerun) && WEXITSTATUS(rerun) == static_cast<int>(ExitCode::Complete))
            << ReadFileBytes(dir + "err");
        EXPECT_TRUE(box.Messages().empty());
        std::map<std::string, int> copies;
        for (const auto& f : files(serverRoot + "/.Done")) {
            const std::string text = MaildirFixture::StoredText(f);
            for (const char* subject : {"Alpha", "Bravo", "Charlie"}) {
                if (text.find(std::string("Dear team, ") + subject + " here.") !=
                    std::string::npos) {
                    ++copies[subject];
                }
            }
        }
        EXPECT_EQ(copies, (std::map<std::string, int>{{"Alpha", 1}, {"Bravo", 1}, {"Charlie", 1}}));
        int alphaTexts = 0;
        for (const auto& name : box.OutputNames()) {
            alphaTexts += ReadFileBytes(box.output + name).find("Alpha here.") != std::string::npos;
        }
        EXPECT_EQ(alphaTexts, 1) << "the email cut short is not written again";
    }
}

} // namespace
} // namespace qf::testing
