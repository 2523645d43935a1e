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

} // namespace
} // namespace qf::testing
