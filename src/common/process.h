// Starting other programs: always from an argument vector, never through a
// shell, so no character of an argument is ever interpreted.  A child starts
// with an empty signal mask and default handling of the signals this program
// may ignore for itself (SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD).
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qf {

struct SpawnOptions {
    // Working folder of the new process; empty keeps ours.
    std::string folder;
    // Standard input, output and error go to /dev/null instead of ours.
    bool quiet = false;
    // When not empty: standard input comes from /dev/null, and standard output
    // and error are appended to this file (created readable by its owner only).
    std::string logFile{};
    // When not negative (and no logFile): standard output goes to this open
    // descriptor, standard input and error to /dev/null.
    int standardOutput = -1;
    // The child leads a process group of its own (numbered by its pid), so that
    // it and every process it starts can be signalled together.
    bool newProcessGroup = false;
    // The child's whole environment as "NAME=value" entries; unset: ours.
    std::optional<std::vector<std::string>> environment{};
};

// A started child.  Its end is noted without collecting it: the process stays
// a zombie until this object is destroyed, so its pid, and the number of the
// group it leads, cannot be given to another process while the object lives.
// That is what makes KillGroup safe: it never reaches a stranger's group.
class ChildProcess {
public:
    // Starts argv[0] with the arguments argv[1..]; a program name without "/"
    // is looked up on PATH.  Returns nullopt and sets `error` (an errno
    // value) when the program cannot be started.
    static std::optional<ChildProcess> Start(const std::vector<std::string>& argv,
                                             const SpawnOptions& options, int& error);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A process still running is left to run; it is collected when it ends.
    ~ChildProcess();

    pid_t Pid() const { return pid_; }
    // Waits up to `timeout` for the process to end; true once it has ended.
    bool WaitFor(std::chrono::milliseconds timeout);
    bool Ended() const { return ended_; }
    // The exit code once ended; 128 + the signal number when it was killed.
    int ExitStatus() const;
    // How it ended, for messages: "exit status 1", "signal 9".
    std::string ExitDescription() const;

    // For a child started with newProcessGroup (otherwise these do nothing):
    //
    // Sends SIGKILL to every process of the group.  May be called from another
    // thread while this object is neither moved nor destroyed.
    void KillGroup() const;
    // Waits up to `limit` until the child has ended and no other process of
    // its group is alive.  Members outlive a leader that exits early.
    bool WaitForGroupExit(std::chrono::milliseconds limit);
    // KillGroup, then WaitForGroupExit.
    bool KillGroupAndWait(std::chrono::milliseconds limit);

private:
    ChildProcess(pid_t pid, bool groupLeader);
    bool NoteEnd(bool block);

    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool groupLeader_ = false;
    bool ended_ = false;
    // Collected by someone else (this program ignores SIGCHLD): the pid may be
    // in use again, so nothing is signalled any more.
    std::atomic<bool> collected_{false};
    int exitCode_ = -1;
    int signal_ = 0;
};

// True while any process of group `pgid` exists that has not yet ended.
bool ProcessGroupAlive(pid_t pgid);
// True when a live process of group `pgid` has `text` in its command line.
bool ProcessGroupCommandHas(pid_t pgid, const std::string& text);

// The first executable file `name` in the folders of PATH; empty when none.
std::string FindProgramOnPath(const std::string& name);

} // namespace qf
