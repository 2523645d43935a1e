// The run record of an output folder: its text, and the lock it is for one
// run at a time, with the folders of crashed runs taken over.
#include "common/error.h"
#include "common/fileio.h"
#include "run/run_record.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace qf::testing {
namespace {

std::string RecordText(const std::string& folder) {
    return ReadFileBytes(folder + RunRecord::kFileName);
}

TEST(RunRecordText, RoundTripsAndRefusesWhatItCannotRead) {
    RunOwner owner;
    owner.pid = 4711;
    owner.host = "brindle\nnext 1"; // a line break must not add a line
    owner.user = "anna";
    owner.started = "2026-12-09T20:00:00Z";
    owner.bootId = "b00t";
    owner.startTicks = 123456;
    const std::string text = FormatRunRecord({42, owner});
    const auto back = ParseRunRecord(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->nextNumber, 42);
    ASSERT_TRUE(back->owner);
    EXPECT_EQ(back->owner->pid, 4711);
    EXPECT_EQ(back->owner->host, "brindle next 1");
    EXPECT_EQ(back->owner->user, "anna");
    EXPECT_EQ(back->owner->startTicks, 123456u);

    const auto ended = ParseRunRecord(FormatRunRecord({7, std::nullopt}));
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->nextNumber, 7);
    EXPECT_FALSE(ended->owner);

    // Keys of a later version are passed over; a later version is not read.
    EXPECT_TRUE(ParseRunRecord(FormatRunRecord({7, std::nullopt}) + "colour blue\n"));
    std::string newer = FormatRunRecord({7, std::nullopt});
    newer.replace(newer.find("version 1"), 9, "version 2");
    EXPECT_FALSE(ParseRunRecord(newer));
    EXPECT_FALSE(ParseRunRecord("next 5\n"));
    EXPECT_FALSE(ParseRunRecord("# Quillfence run record\nversion 1\nnext -3\n"));
    EXPECT_FALSE(ParseRunRecord("# Quillfence run record\nversion 1\nnext 99999999999\n"));
    EXPECT_FALSE(ParseRunRecord("# Quillfence run record\nversion 1\npid x\n"));
}

TEST(RunRecordLock, AFolderIsTakenRecordedAndGivenUp) {
    TempDir dir;
    {
        RunRecord record;
        EXPECT_EQ(record.Acquire(dir.path()), std::nullopt);
        const auto held = ParseRunRecord(RecordText(dir.path()));
        ASSERT_TRUE(held && held->owner);
        EXPECT_EQ(held->owner->pid, ::getpid());
        EXPECT_TRUE(held->owner->AliveHere());

        // A second run in the same process is kept out as well.
        RunRecord second;
        EXPECT_THROW(second.Acquire(dir.path()), Error);

        record.Commit(12);
        EXPECT_EQ(ParseRunRecord(RecordText(dir.path()))->nextNumber, 12);
        record.Release(15);
        const auto released = ParseRunRecord(RecordText(dir.path()));
        ASSERT_TRUE(released);
        EXPECT_EQ(released->nextNumber, 15);
        EXPECT_FALSE(released->owner);
    }
    // What the question before a run reads, without taking the folder.
    EXPECT_EQ(RecordedNextNumber(dir.path()), 15);
    RunRecord again;
    EXPECT_EQ(again.Acquire(dir.path()), 15);
    EXPECT_EQ(RecordedNextNumber(dir.path()), 15) << "also while a run holds it";
    // Given up when it goes, keeping the recorded number.
}

TEST(RunRecordLock, ANumberIsReadOnlyFromARecordThere) {
    TempDir dir;
    EXPECT_EQ(RecordedNextNumber(dir.path()), std::nullopt);
    WriteFileAtomic(dir.path() + RunRecord::kFileName, "next 5\n");
    EXPECT_EQ(RecordedNextNumber(dir.path()), std::nullopt) << "a damaged record";
    EXPECT_EQ(RecordedNextNumber(dir.path() + "missing/"), std::nullopt);
}

TEST(RunRecordLock, ALiveRunIsNamedAndAKilledOnesFolderIsTakenOver) {
    TempDir dir;
    int ready[2];
    int go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RunRecord record;
        record.Acquire(dir.path());
        record.Commit(30);
        char c = 1;
        (void)!::write(ready[1], &c, 1);
        (void)!::read(go[0], &c, 1); // killed while waiting here
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    {
        RunRecord record;
        try {
            record.Acquire(dir.path());
            ADD_FAILURE() << "a live run's folder was taken";
        } catch (const Error& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("process " + std::to_string(child)), std::string::npos) << what;
            EXPECT_NE(what.find(RunRecord::kFileName), std::string::npos) << what;
        }
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    ::close(go[0]);
    ::close(go[1]);

    // The killed run left its record behind: taken over, numbering after it.
    ASSERT_TRUE(ParseRunRecord(RecordText(dir.path()))->owner);
    RunRecord record;
    EXPECT_EQ(record.Acquire(dir.path()), 30);
    EXPECT_EQ(ParseRunRecord(RecordText(dir.path()))->owner->pid, ::getpid());
}

TEST(RunRecordLock, RecordsThatCannotBeJudgedAreRefused) {
    TempDir dir;
    const std::string path = dir.path() + RunRecord::kFileName;
    RunOwner elsewhere = RunOwner::Self();
    elsewhere.host = "another-host.example";
    WriteFileAtomic(path, FormatRunRecord({5, elsewhere}));
    {
        // Whether a process on another machine still runs cannot be told.
        RunRecord record;
        EXPECT_THROW(record.Acquire(dir.path()), Error);
    }
    EXPECT_EQ(ParseRunRecord(RecordText(dir.path()))->owner->host, "another-host.example");

    WriteFileAtomic(path, "next 5\n");
    RunRecord record;
    try {
        record.Acquire(dir.path());
        ADD_FAILURE() << "a damaged record was passed over";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("is damaged"), std::string::npos) << e.what();
    }
    EXPECT_EQ(RecordText(dir.path()), "next 5\n");
}

TEST(RunRecordLock, AMissingFolderIsAFileError) {
    TempDir dir;
    RunRecord record;
    EXPECT_THROW(record.Acquire(dir.path() + "gone/"), FileError);
    EXPECT_FALSE(record.Held());
}

} // namespace
} // namespace qf::testing
