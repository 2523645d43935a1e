#include "platform/wordproc/office_process.h"

#include "common/error.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace qf::wordproc {
namespace {

// How long a killed group may take to be gone.
constexpr std::chrono::seconds kKillWait{10};

// Groups started by this process, for the signal handler, with the file
// each leaves behind.  A slot's path is written before its group is published.
struct Slot {
    std::atomic<pid_t> group{0};
    char leftover[256] = {};
};
std::array<Slot, 32> g_groups;
std::mutex g_slotsMutex;

void RegisterGroup(pid_t pgid, const std::string& leftover) {
    std::lock_guard lock(g_slotsMutex);
    for (auto& slot : g_groups) {
        if (slot.group.load() != 0) {
            continue;
        }
        std::size_t n = leftover.size() < sizeof slot.leftover ? leftover.size() : 0;
        std::memcpy(slot.leftover, leftover.data(), n);
        slot.leftover[n] = '\0';
        slot.group.store(pgid);
        return;
    }
}

void UnregisterGroup(pid_t pgid) {
    std::lock_guard lock(g_slotsMutex);
    for (auto& slot : g_groups) {
        if (slot.group.load() == pgid) {
            slot.group.store(0);
            return;
        }
    }
}

void OnFatalSignal(int sig) {
    KillStartedOffices();
    // The handler was installed with SA_RESETHAND: the signal now ends the
    // program as it would have without us (a fault re-occurs on return).
    if (sig == SIGTERM || sig == SIGHUP || sig == SIGINT || sig == SIGABRT) {
        std::raise(sig);
    }
}

void InstallSignalCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
            struct sigaction old {};
            if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL ||
                (old.sa_flags & SA_SIGINFO)) {
                continue;
            }
            struct sigaction act {};
            act.sa_handler = OnFatalSignal;
            act.sa_flags = SA_RESETHAND | SA_NODEFER;
            sigemptyset(&act.sa_mask);
            sigaction(sig, &act, nullptr);
        }
    });
}

ChildProcess StartGroup(const std::vector<std::string>& argv, const std::string& logPath) {
    InstallSignalCleanup();
    SpawnOptions options;
    options.logFile = logPath;
    options.newProcessGroup = true;
    int error = 0;
    std::optional<ChildProcess> child = ChildProcess::Start(argv, options, error);
    if (!child) {
        ThrowSystemError("Cannot start", argv.empty() ? std::string() : argv[0], error);
    }
    return std::move(*child);
}

} // namespace

void KillStartedOffices() {
    for (auto& slot : g_groups) {
        pid_t g = slot.group.load();
        if (g > 0) {
            ::kill(-g, SIGKILL);
            if (slot.leftover[0] != '\0') {
                ::unlink(slot.leftover);
            }
        }
    }
}

std::string PipeSocketPath(const std::string& pipe) {
    return "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + pipe;
}

OfficeProcess::OfficeProcess(const std::vector<std::string>& argv, const std::string& logPath,
                             const std::string& leftover)
    : child_(StartGroup(argv, logPath)), leftover_(leftover) {
    RegisterGroup(child_.Pid(), leftover_);
    registered_ = true;
}

OfficeProcess::~OfficeProcess() {
    if (registered_) {
        KillAndWait();
    }
}

bool OfficeProcess::Running() {
    return !child_.WaitFor(std::chrono::milliseconds(0));
}

bool OfficeProcess::WaitForGroupExit(std::chrono::milliseconds limit) {
    return child_.WaitForGroupExit(limit);
}

void OfficeProcess::KillAndWait() {
    if (!registered_) {
        return;
    }
    // The group's number stays ours until child_ collects the leader, which
    // happens only after the group has left the signal handler's list.
    child_.KillGroupAndWait(kKillWait);
    UnregisterGroup(child_.Pid());
    registered_ = false;
    if (!leftover_.empty()) {
        ::unlink(leftover_.c_str());
    }
}

} // namespace qf::wordproc
