// An office process this program started: in a process group of its own, so
// that the launcher script and the office it starts can be stopped together.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qf::wordproc {

class OfficeProcess {
public:
    // Starts `argv[0]` (looked up in PATH) in a new process group with its
    // output going to `logPath`.  `leftover` names a file the process makes
    // and leaves behind when killed; it is removed when the group is killed
    // by a signal handler.  Throws qf::Error with the system's reason.
    OfficeProcess(const std::vector<std::string>& argv, const std::string& logPath,
                  const std::string& leftover = {});
    // Kills the group when it is still there.
    ~OfficeProcess();
    OfficeProcess(const OfficeProcess&) = delete;
    OfficeProcess& operator=(const OfficeProcess&) = delete;

    pid_t pid() const { return pid_; }
    // False once the started process has ended (it is reaped here).
    bool Running();
    // How the started process ended, for messages ("exit status 1", "signal 9").
    std::string ExitDescription() const { return exitDescription_; }
    // Waits up to `limit` for every process of the group to end.
    bool WaitForGroupExit(std::chrono::milliseconds limit);
    // Sends SIGKILL to the whole group; safe to call from another thread.
    void KillGroup() const;
    // Kills the group and waits until it is gone.
    void KillAndWait();

private:
    void Reap(bool block);

    pid_t pid_ = -1;
    bool reaped_ = false;
    std::string exitDescription_;
};

// True while any process of group `pgid` exists that has not yet ended.
bool ProcessGroupAlive(pid_t pgid);
// True when a live process of group `pgid` has `text` in its command line.
bool ProcessGroupCommandHas(pid_t pgid, const std::string& text);

// Kills every office group this process started; async-signal-safe.  The
// program's own fatal-signal handlers may call it.  SIGTERM, SIGHUP, SIGINT
// and the fault signals (SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL) get a
// handler that does so and then lets the signal end the program, unless the
// program already handles them.
void KillStartedOffices();

} // namespace qf::wordproc
