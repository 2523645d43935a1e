// An office process this program started: in a process group of its own, so
// that the launcher script and the office it starts can be stopped together,
// and stopped with this program however that ends.
#pragma once

#include "common/process.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qf::wordproc {

class OfficeProcess {
public:
    // Starts `argv[0]` (looked up in PATH) in a new process group with its
    // output appended to `logPath`.  `leftover` names a file the process makes
    // and leaves behind when killed; it is removed whenever the group is
    // killed.  Throws qf::Error with the system's reason.
    OfficeProcess(const std::vector<std::string>& argv, const std::string& logPath,
                  const std::string& leftover = {});
    // Kills the group when it is still there.
    ~OfficeProcess();
    OfficeProcess(const OfficeProcess&) = delete;
    OfficeProcess& operator=(const OfficeProcess&) = delete;

    // The started process, which leads the group: its pid is the group's number.
    pid_t pid() const { return child_.Pid(); }
    // False once the started process has ended.
    bool Running();
    // How the started process ended, for messages ("exit status 1", "signal 9").
    std::string ExitDescription() const { return child_.ExitDescription(); }
    // Waits up to `limit` for every process of the group to end.
    bool WaitForGroupExit(std::chrono::milliseconds limit);
    // Sends SIGKILL to the whole group; safe to call from another thread.
    void KillGroup() const { child_.KillGroup(); }
    // Kills the group, waits until it is gone and removes the leftover file.
    void KillAndWait();

private:
    ChildProcess child_;
    std::string leftover_;
    bool registered_ = false;
};

// The socket file LibreOffice makes for a pipe it accepts on; a killed
// instance leaves it behind.
std::string PipeSocketPath(const std::string& pipe);

// Kills every office group this process started; async-signal-safe.  The
// program's own fatal-signal handlers may call it.  SIGTERM, SIGHUP, SIGINT
// and the fault signals (SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL) get a
// handler that does so and then lets the signal end the program, unless the
// program already handles them.
void KillStartedOffices();

} // namespace qf::wordproc
