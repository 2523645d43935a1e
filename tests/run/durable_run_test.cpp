// Whole runs in batches: output files made durable a batch at a time before
// their emails are disposed of, the next number kept as the run goes, and one
// run per output folder.
#include "common/fileio.h"
#include "fake_host.h"
#include "mail/email.h"
#include "mail/session.h"
#include "run/extraction_run.h"
#include "run/run_record.h"
#include "support/fake_word_processor.h"
#include "support/maildir_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace qf::testing {
namespace {

namespace fs = std::filesystem;

// Records each number the run keeps after a batch, with what the mailbox and
// the output folder looked like at that moment.
class BatchHost : public FakeHost {
public:
    struct Kept {
        std::int32_t next;
        std::vector<std::string> outputs;
        std::vector<std::string> subjects;
        std::size_t notes; // stored emails with a manual-intervention note
        std::size_t rows;  // exception rows shown
    };
    const MaildirFixture* mail = nullptr;
    std::vector<Kept> kept;

    void KeepNextFileNumber(std::int32_t n) override {
        std::size_t notes = 0;
        for (const std::string& file : mail->Messages()) {
            notes += MaildirFixture::StoredText(file).find("Manual intervention is required") !=
                     std::string::npos;
        }
        kept.push_back({n, mail->OutputNames(), mail->Subjects(), notes, rows.size()});
    }
};

class DurableRunTest : public ::testing::Test {
protected:
    MaildirFixture mail;
    BatchHost host;

    void SetUp() override { host.mail = &mail; }

    Settings Tagging() const {
        Settings s = mail.settings();
        s.includeAttachments = false;
        s.emailsTo = Settings::kTagSubject;
        return s;
    }

    RunOutcome Run(const Settings& s, int batchEmails = 256, std::size_t batchBytes = 8u << 20,
                   const std::function<void(RunServices&)>& more = {}) {
        MapiSession session;
        RunServices services{session, nullptr, {}, nullptr};
        services.batchEmails = batchEmails;
        services.batchBytes = batchBytes;
        services.batchTime = std::chrono::hours(1);
        if (more) {
            more(services);
        }
        ExtractionRun run(s, host, services);
        return run.Execute();
    }

    std::optional<RunRecordContent> Record() const {
        return ParseRunRecord(ReadFileBytes(mail.output + RunRecord::kFileName));
    }

    void Deliver(int count) {
        for (int i = 0; i < count; ++i) {
            Mail m;
            m.subject = "Application " + std::to_string(i);
            m.date = "Tue, 01 Dec 2026 09:0" + std::to_string(i) + ":00 +0000";
            mail.Deliver(m);
        }
    }
};

TEST_F(DurableRunTest, EmailsAreTaggedOnlyAfterTheirBatchIsDurableAndTheNumberKept) {
    Deliver(5);
    ASSERT_EQ(Run(Tagging(), 2), RunOutcome::Complete);
    ASSERT_EQ(host.kept.size(), 3u);
    // When a batch's number is kept, its files are all there and none of its
    // emails is tagged yet; the earlier batches' emails are.
    const std::vector<std::int32_t> nexts = {3, 5, 6};
    for (size_t b = 0; b < host.kept.size(); ++b) {
        SCOPED_TRACE(b);
        const auto& k = host.kept[b];
        EXPECT_EQ(k.next, nexts[b]);
        // (The next batch's files may be written while this one is synced.)
        EXPECT_GE(k.outputs.size(), static_cast<size_t>(k.next - 1));
        const auto tagged = std::count_if(k.subjects.begin(), k.subjects.end(),
                                          [](const std::string& s) { return s.starts_with("*"); });
        EXPECT_EQ(tagged, b * 2);
    }
    EXPECT_EQ(mail.OutputNames().size(), 5u);
    const auto record = Record();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->nextNumber, 6);
    EXPECT_FALSE(record->owner) << "the folder is given up at the end";
}

TEST_F(DurableRunTest, BigEmailsMakeSmallerBatches) {
    Deliver(3);
    // Each email is over the bound: a batch each, so no more than one of
    // them waits in memory for its commit.
    ASSERT_EQ(Run(Tagging(), 256, 1), RunOutcome::Complete);
    ASSERT_EQ(host.kept.size(), 3u);
    EXPECT_EQ(host.kept[2].next, 4);
    EXPECT_EQ(Record()->nextNumber, 4);
}

TEST_F(DurableRunTest, ARunAfterACrashContinuesAfterTheCrashedRunsFiles) {
    Deliver(2);
    // What a run killed after its first batch leaves: its files, and a record
    // naming a process that is gone.
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    RunOwner crashed = RunOwner::Self();
    crashed.pid = gone;
    crashed.startTicks = 1;
    WriteFileAtomic(mail.output + RunRecord::kFileName, FormatRunRecord({7, crashed}));
    WriteFileAtomic(mail.output + "00006.txt", "the text of an email already tagged");

    Settings s = Tagging();
    s.firstNumber = 1; // the settings were never saved after the crash
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_EQ(mail.OutputNames(),
              (std::vector<std::string>{"00006.txt", "00007.txt", "00008.txt"}));
    EXPECT_EQ(ReadFileBytes(mail.output + "00006.txt"), "the text of an email already tagged");
    EXPECT_EQ(host.nextNumber, 9);
    EXPECT_EQ(Record()->nextNumber, 9);

    // A higher first number in the settings still wins.
    Deliver(1);
    s.firstNumber = 20;
    ASSERT_EQ(Run(s), RunOutcome::Complete);
    EXPECT_TRUE(fs::exists(mail.output + "00020.txt"));
    EXPECT_EQ(Record()->nextNumber, 21);
}

TEST_F(DurableRunTest, ASecondRunOnTheSameOutputFolderIsRefused) {
    Deliver(2);
    RunRecord other; // another run of this process holds the folder
    other.Acquire(mail.output);
    EXPECT_EQ(Run(Tagging()), RunOutcome::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_NE(
        host.errors[0].find("is in use by another run: process " + std::to_string(::getpid())),
        std::string::npos)
        << host.errors[0];
    EXPECT_TRUE(mail.OutputNames().empty());
    EXPECT_EQ(mail.Subjects(), (std::vector<std::string>{"Application 0", "Application 1"}));
    // The refused run left the holder's record alone.
    EXPECT_EQ(Record()->owner->pid, ::getpid());
    EXPECT_TRUE(other.Held());
}

TEST_F(DurableRunTest, AnOutputFolderRemovedMidRunDisposesOfNothingUnwritten) {
    Deliver(3);
    // The folder goes after the second email's file is written, before the
    // batch is committed.
    host.onPump = [this](FakeHost&) {
        if (fs::exists(mail.output + "00002.txt")) {
            fs::remove_all(mail.output);
        }
    };
    EXPECT_EQ(Run(Tagging()), RunOutcome::Failed);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_NE(host.errors[0].find(mail.output), std::string::npos) << host.errors[0];
    EXPECT_EQ(mail.Subjects(),
              (std::vector<std::string>{"Application 0", "Application 1", "Application 2"}));
}

TEST_F(DurableRunTest, EmailsReadAheadAreToldOfWithTheirAttachmentsAndWrittenAsWithout) {
    for (int i = 0; i < 6; ++i) {
        Mail m;
        m.subject = "Application " + std::to_string(i);
        m.date = "Tue, 01 Dec 2026 09:0" + std::to_string(i) + ":00 +0000";
        m.body = "Dear team,\nmy CV number " + std::to_string(i) + ".\n";
        if (i % 2 == 1) {
            m.parts.push_back(Part{"cv" + std::to_string(i) + ".doc", "bytes"});
        }
        mail.Deliver(m);
    }
    Settings s = mail.settings();
    // Without reading ahead first, into a folder of its own.
    s.directory = mail.temp.path() + "Plain/";
    fs::create_directories(s.directory);
    ASSERT_EQ(Run(s, 256, 8u << 20, [](RunServices& services) { services.readAhead.emails = 0; }),
              RunOutcome::Complete);

    // Each email is told of before the run comes to it, attachments and all.
    host.statuses.clear();
    std::vector<std::string> told;
    ASSERT_EQ(
        Run(mail.settings(), 256, 8u << 20,
            [&](RunServices& services) {
                services.readAhead.emails = 2;
                services.onEmailReadAhead = [&](EmailMessage& email) {
                    // The emails before this one are all the run has begun.
                    const auto begun = std::count_if(
                        host.statuses.begin(), host.statuses.end(),
                        [](const std::string& t) { return t.starts_with("Processing email "); });
                    EXPECT_LE(static_cast<std::size_t>(begun), told.size());
                    std::vector<std::unique_ptr<Attachment>> list;
                    email.ListAttachments(list);
                    told.push_back(email.subject + (list.empty() ? "" : " " + list[0]->fileName));
                };
            }),
        RunOutcome::Complete);
    EXPECT_EQ(told, (std::vector<std::string>{"Application 0", "Application 1 cv1.doc",
                                              "Application 2", "Application 3 cv3.doc",
                                              "Application 4", "Application 5 cv5.doc"}));
    // The same files, word for word.
    const auto names = mail.OutputNames();
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(mail.OutputNames(s.directory), names);
    for (const std::string& name : names) {
        EXPECT_EQ(ReadFileBytes(mail.output + name), ReadFileBytes(s.directory + name)) << name;
    }
}

TEST_F(DurableRunTest, ManualInterventionNotesAreWrittenWithTheirBatchOnceTheOutputIsDurable) {
    for (int i = 0; i < 3; ++i) {
        Mail m;
        m.subject = "Zipped " + std::to_string(i);
        m.date = "Tue, 01 Dec 2026 09:0" + std::to_string(i) + ":00 +0000";
        m.parts = {{"all" + std::to_string(i) + ".zip", "PK\x03\x04"},
                   {"more" + std::to_string(i) + ".zip", "PK\x03\x04"}};
        mail.Deliver(m);
    }
    Settings s = mail.settings();
    s.includeAttachments = true;
    FakeWordProcessor word;
    ASSERT_EQ(Run(s, 1, 8u << 20, [&](RunServices& services) { services.wordProcessor = &word; }),
              RunOutcome::Complete)
        << (host.errors.empty() ? "" : host.errors[0]);
    // When a batch's files are durable (its number kept), none of its notes
    // is written or shown yet: only the earlier batches' are.
    ASSERT_EQ(host.kept.size(), 3u);
    for (std::size_t b = 0; b < host.kept.size(); ++b) {
        SCOPED_TRACE(b);
        EXPECT_EQ(host.kept[b].notes, b);
        EXPECT_EQ(host.kept[b].rows, 2 * b);
    }
    // Both notes of an email, in one change, the last one on top; a row each.
    ASSERT_EQ(host.rows.size(), 6u);
    const auto messages = mail.Messages();
    ASSERT_EQ(messages.size(), 3u);
    for (const std::string& file : messages) {
        const std::string text = MaildirFixture::StoredText(file);
        const auto more = text.find("for attachment \"more");
        const auto all = text.find("for attachment \"all");
        ASSERT_NE(more, std::string::npos) << text;
        EXPECT_LT(more, all) << text;
        EXPECT_EQ(text.find("for attachment \"all", all + 1), std::string::npos) << "once";
    }
}

} // namespace
} // namespace qf::testing
