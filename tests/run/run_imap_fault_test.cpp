// Whole runs over an IMAP account whose server dies mid-run: killed and
// started again, the run reconnects and finishes; killed for good, the run
// ends with an error that names the server.  Either way every email is in
// the mailbox exactly once, and a second run finishes what the first left.
#include "common/fileio.h"
#include "fake_host.h"
#include "mail/session.h"
#include "run/extraction_run.h"
#include "support/dovecot_fixture.h"
#include "support/fake_word_processor.h"
#include "support/maildir_fixture.h"

#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>

namespace qf::testing {
namespace {

constexpr int kEmails = 24;

class ImapFaultTest : public ::testing::TestWithParam<int> {
protected:
    MaildirFixture mail;
    std::unique_ptr<DovecotServer> server;
    FakeWordProcessor word;
    PrintFn print = [](const std::string&) { return true; };

    void SetUp() override {
        ::chmod(mail.temp.path().c_str(), 0755);
        mail.MakeFolder("Processed");
        for (int i = 0; i < kEmails; ++i) {
            Mail m;
            m.subject = "Application " + std::to_string(100 + i);
            m.date = "Tue, 01 Dec 2026 09:" + std::to_string(10 + i) + ":00 +0000";
            mail.Deliver(m);
        }
        server = std::make_unique<DovecotServer>(mail.root);
        std::string why;
        ASSERT_TRUE(server->Start(why)) << why;
        server->WriteProfiles(mail.temp.path() + "profiles.ini");
    }

    Settings MoveAndMarkRead() const {
        Settings s = mail.settings();
        s.emailsTo = Settings::kMoveEmails;
        s.readStatus = true;
        s.destinationFolder = mail.FindFolder("Processed");
        s.messageDestination = "Processed";
        s.sortOrder = Settings::kByDate;
        return s;
    }

    RunOutcome Run(const Settings& s, FakeHost& host) {
        MapiSession session;
        ExtractionRun run(s, host, RunServices{session, &word, print, nullptr});
        run.Execute();
        return run.Outcome();
    }

    // How often each subject is in the mailbox (inbox and Processed).
    std::map<std::string, int> Census() const {
        std::map<std::string, int> seen;
        for (const char* folder : {"", "Processed"}) {
            for (const auto& s : mail.Subjects(folder)) {
                ++seen[s];
            }
        }
        return seen;
    }

    void ExpectEveryEmailOnce() const {
        const auto seen = Census();
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(kEmails));
        for (const auto& [subject, n] : seen) {
            EXPECT_EQ(n, 1) << subject;
        }
    }
};

// The server dies at the run's n-th pump: while listing, reading, or moving.
TEST_P(ImapFaultTest, AServerKilledAndRestartedMidRunLosesAndDoublesNothing) {
    FakeHost host;
    int pumps = 0;
    host.onPump = [&](FakeHost&) {
        if (++pumps == GetParam()) {
            server->Kill();
            std::string why;
            ASSERT_TRUE(server->Start(why)) << why;
        }
    };
    const RunOutcome outcome = Run(MoveAndMarkRead(), host);
    ASSERT_GE(pumps, GetParam()) << "the server was never killed";
    ExpectEveryEmailOnce();
    if (outcome != RunOutcome::Complete) {
        // A run may also stop with the reason; the next one finishes the work.
        ASSERT_FALSE(host.errors.empty());
        FakeHost again;
        EXPECT_EQ(Run(MoveAndMarkRead(), again), RunOutcome::Complete)
            << (again.errors.empty() ? "" : again.errors[0]);
        ExpectEveryEmailOnce();
    }
    EXPECT_TRUE(mail.Subjects().empty());
    EXPECT_EQ(mail.Subjects("Processed").size(), static_cast<std::size_t>(kEmails));
    // One output file per email, however the work was split.
    EXPECT_EQ(mail.OutputNames().size(), static_cast<std::size_t>(kEmails));
}

TEST_P(ImapFaultTest, AServerThatStaysAwayEndsTheRunWithItsName) {
    FakeHost host;
    int pumps = 0;
    host.onPump = [&](FakeHost&) {
        if (++pumps == GetParam()) {
            server->Kill();
        }
    };
    EXPECT_NE(Run(MoveAndMarkRead(), host), RunOutcome::Complete);
    ASSERT_FALSE(host.errors.empty());
    EXPECT_NE(host.errors[0].find("127.0.0.1"), std::string::npos) << host.errors[0];
    ExpectEveryEmailOnce();

    // Back again: a second run finishes, and the emails moved before stay moved.
    std::string why;
    ASSERT_TRUE(server->Start(why)) << why;
    const std::size_t movedBefore = mail.Subjects("Processed").size();
    FakeHost again;
    EXPECT_EQ(Run(MoveAndMarkRead(), again), RunOutcome::Complete)
        << (again.errors.empty() ? "" : again.errors[0]);
    ExpectEveryEmailOnce();
    EXPECT_TRUE(mail.Subjects().empty());
    EXPECT_GE(mail.Subjects("Processed").size(), movedBefore);
}

// Another client expunges an email the run has listed but not reached: the
// run goes on with the others and says which one it could not read.
TEST_P(ImapFaultTest, AnEmailExpungedByAnotherClientMidRunIsReportedAndTheRestDone) {
    FakeHost host;
    int pumps = 0;
    host.onPump = [&](FakeHost&) {
        if (++pumps == GetParam()) {
            for (const auto& f : mail.Messages()) {
                if (ReadFileBytes(f).find("Subject: Application 123\n") != std::string::npos) {
                    std::filesystem::remove(f);
                }
            }
        }
    };
    const RunOutcome outcome = Run(MoveAndMarkRead(), host);
    auto seen = Census();
    const bool processedBefore = seen.count("Application 123") != 0;
    seen.erase("Application 123");
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kEmails - 1));
    for (const auto& [subject, n] : seen) {
        EXPECT_EQ(n, 1) << subject;
    }
    if (!processedBefore) {
        // Gone before the run reached it: the others are done, and the run says so.
        const bool told = !host.errors.empty() || !host.rows.empty() || !host.warnings.empty();
        EXPECT_TRUE(told || outcome == RunOutcome::Complete);
    }
    if (outcome == RunOutcome::Complete) {
        EXPECT_TRUE(mail.Subjects().empty());
    }
}

// The server renumbers the inbox between the listing and the reading (a
// restore, say): the run stops with a clear error and nothing is lost; a new
// run lists again and finishes.
TEST_P(ImapFaultTest, ARenumberedInboxMidRunIsAClearErrorAndNothingIsLost) {
    FakeHost host;
    int pumps = 0;
    host.onPump = [&](FakeHost&) {
        if (++pumps == GetParam()) {
            server->Stop();
            server->ForgetUids(mail.root);
            std::string why;
            ASSERT_TRUE(server->Start(why)) << why;
        }
    };
    const RunOutcome outcome = Run(MoveAndMarkRead(), host);
    ExpectEveryEmailOnce();
    if (outcome != RunOutcome::Complete) {
        // The session that saw the old numbering says the mailbox changed, or
        // (when the server's old process still served it) that the email is gone.
        ASSERT_FALSE(host.errors.empty());
        const std::string& why = host.errors[0];
        EXPECT_TRUE(why.find("UIDVALIDITY") != std::string::npos ||
                    why.find("is no longer there") != std::string::npos)
            << why;
        FakeHost again;
        EXPECT_EQ(Run(MoveAndMarkRead(), again), RunOutcome::Complete)
            << (again.errors.empty() ? "" : again.errors[0]);
        ExpectEveryEmailOnce();
    }
    EXPECT_TRUE(mail.Subjects().empty());
}

INSTANTIATE_TEST_SUITE_P(AtPump, ImapFaultTest, ::testing::Values(2, 25, 50, 75));

} // namespace
} // namespace qf::testing
