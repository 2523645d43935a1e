// The run record: a small text file, `.quillfence-run`, in the output folder.
// It keeps the number of the next output file durable while a run goes (so a
// run after a crash continues after the files already written instead of
// replacing them), and while a run lives it names that run's process: it is
// the lock that keeps a second run out of the folder.  docs/run-record.md
// describes the format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

// The process that holds an output folder.
struct RunOwner {
    long pid = 0;
    std::string host;
    std::string user;
    std::string started; // UTC, ISO 8601
    // Identify the process beyond its pid, which the system reuses: the boot
    // it runs in and its start time in clock ticks since that boot.
    std::string bootId;
    std::uint64_t startTicks = 0;

    // This process.
    static RunOwner Self();
    // True when the process still runs on this machine (false for another
    // machine's process: whether it lives cannot be told from here).
    bool AliveHere() const;
    bool OnThisHost() const;
};

struct RunRecordContent {
    std::optional<std::int32_t> nextNumber;
    std::optional<RunOwner> owner; // absent once the run has ended
};

std::string FormatRunRecord(const RunRecordContent& content);
// The next number the run record of output folder `folder` (ending in '/')
// holds, without taking the folder; nullopt when there is no readable record.
// A run there starts at this number when it is above its settings' first.
std::optional<std::int32_t> RecordedNextNumber(const std::string& folder);
// Nullopt when `text` is not a run record of a version this program reads.
std::optional<RunRecordContent> ParseRunRecord(std::string_view text);

class RunRecord {
public:
    static constexpr const char* kFileName = ".quillfence-run";

    RunRecord() = default;
    // Gives the folder up (without changing the recorded number) when held.
    ~RunRecord();
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    // Takes the output folder `folder` (ending in '/') for this run and
    // returns the next number an earlier run recorded, if any.  A record left
    // by a process that has died is taken over.  Throws Error naming the
    // other run when a live one holds the folder, and FileError when the
    // record cannot be read or written.
    std::optional<std::int32_t> Acquire(const std::string& folder);
    // Records `next` as the number of the next output file.  The record is
    // written without a flush of its own: the run's SyncFileSystem() of the
    // batch makes it durable together with that batch's files.
    void Commit(std::int32_t next);
    // Records `next` durably and gives the folder up.
    void Release(std::int32_t next);

    bool Held() const { return held_; }
    const std::string& Path() const { return path_; }

private:
    void Write(const RunRecordContent& content, bool durable);
    void Unlock();

    std::string path_;
    int lockFd_ = -1;
    bool held_ = false;
    RunOwner owner_;
    std::optional<std::int32_t> next_;
};

} // namespace qf
