// The LibreOffice instance in use: the user's, attached on the configured
// pipe, or one this program started (its process group, private profile and
// pipe).  An instance that no longer answers is dropped and replaced; each
// replacement starts a new generation, so documents opened in an earlier one
// are known to be gone.
#pragma once

#include "platform/wordproc/libreoffice.h"
#include "platform/wordproc/office_process.h"
#include "platform/wordproc/office_watchdog.h"
#include "platform/wordproc/uno_bridge.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qf::wordproc {

class OfficeInstance {
public:
    // Both are used, not copied: `options` may change between documents.
    OfficeInstance(const LibreOfficeOptions& options, OfficeWatchdog& watchdog);
    // Quits as Quit does; errors are swallowed.
    ~OfficeInstance();
    OfficeInstance(const OfficeInstance&) = delete;
    OfficeInstance& operator=(const OfficeInstance&) = delete;

    // Keeps the instance in use when it answers, else attaches to the
    // configured pipe or starts one.  Returns Started().  Throws
    // WordProcessorError (NotAvailable).
    bool Connect();
    // Makes sure the instance answers before a document goes to it, checking
    // under the document deadline: one that hangs or is gone is replaced.
    // Throws WordProcessorError (NotAvailable).
    void EnsureAnswering();
    // Replaces the instance after a call on it failed: ours is killed, the
    // user's is let go (after a deadline, for good: this run starts its own).
    // Returns an empty string, or a sentence saying why no new instance could
    // be had (the next document tries again).
    std::string Replace(bool afterDeadline);
    // Whether the instance is still there and answers.
    bool Alive();
    // Stops an instance this object started (asking first, then killing) and
    // removes its profile; lets go of the user's.
    void Quit();

    // Arms the watchdog for a document: at the deadline our instance is
    // killed, or the connection to the user's is dropped.
    void ArmDeadline() { ArmDeadline(options_.deadline); }
    void ArmDeadline(std::chrono::milliseconds limit);
    std::chrono::milliseconds Deadline() const { return options_.deadline; }

    // The connection; only while connected.
    UnoBridge& Bridge() { return *bridge_; }
    bool Started() const { return process_ != nullptr; }
    int Generation() const { return generation_; }
    pid_t ProcessGroup() const { return process_ ? process_->pid() : -1; }
    const std::string& PipeName() const { return pipe_; }
    bool NetworkIsolated() const { return process_ && isolated_; }
    int Restarts() const { return restarts_; }

private:
    bool AttachOrStart();
    void StartOwn();
    std::vector<std::string> CommandLine(const std::string& program) const;
    void WaitUntilAnswering();
    void InstallUserMacros();
    void Drop();

    const LibreOfficeOptions& options_;
    OfficeWatchdog& watchdog_;
    std::unique_ptr<UnoBridge> bridge_;
    std::unique_ptr<OfficeProcess> process_; // set while our own instance runs
    std::string pipe_;
    std::string profile_;
    bool isolated_ = false;          // our instance has no network
    bool abandonedAttached_ = false; // the user's instance hung: not used again
    int generation_ = 0;
    int restarts_ = 0;
};

} // namespace qf::wordproc
