// Starting other programs: always from an argument vector, never through a
// shell, so no character of an argument is ever interpreted.
#pragma once

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
};

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
    int ExitStatus() const { return status_; }

private:
    explicit ChildProcess(pid_t pid);
    bool Reap(bool block);

    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool ended_ = false;
    int status_ = -1;
};

} // namespace qf
