#include "platform/wordproc/office_process.h"

#include "common/error.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qf::wordproc {
namespace {

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
        if (slot.group.load() != 0)
            continue;
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
    if (sig == SIGTERM || sig == SIGHUP || sig == SIGINT || sig == SIGABRT)
        std::raise(sig);
}

void InstallSignalCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
            struct sigaction old {};
            if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL ||
                (old.sa_flags & SA_SIGINFO))
                continue;
            struct sigaction act {};
            act.sa_handler = OnFatalSignal;
            act.sa_flags = SA_RESETHAND | SA_NODEFER;
            sigemptyset(&act.sa_mask);
            sigaction(sig, &act, nullptr);
        }
    });
}

} // namespace

void KillStartedOffices() {
    for (auto& slot : g_groups) {
        pid_t g = slot.group.load();
        if (g > 0) {
            ::kill(-g, SIGKILL);
            if (slot.leftover[0])
                ::unlink(slot.leftover);
        }
    }
}

namespace {

// Calls `visit(pid)` for each live (not zombie) process of group `pgid` until
// it returns true; returns whether it did.
template <class Visit> bool AnyInGroup(pid_t pgid, Visit visit) {
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    while (struct dirent* e = ::readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // pid (comm) state ppid pgrp ...; comm may hold spaces and parentheses.
        auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        long ppid = 0, pgrp = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &pgrp) != 3)
            continue;
        if (pgrp == pgid && state != 'Z' && state != 'X' &&
            visit(static_cast<pid_t>(std::atol(e->d_name)))) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

} // namespace

bool ProcessGroupCommandHas(pid_t pgid, const std::string& text) {
    if (pgid <= 0)
        return false;
    return AnyInGroup(pgid, [&](pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return cmdline.find(text) != std::string::npos;
    });
}

bool ProcessGroupAlive(pid_t pgid) {
    if (pgid <= 0)
        return false;
    if (::kill(-pgid, 0) != 0 && errno == ESRCH)
        return false;
    // kill() also reaches zombies nobody has reaped yet: look closer.
    return AnyInGroup(pgid, [](pid_t) { return true; });
}

OfficeProcess::OfficeProcess(const std::vector<std::string>& argv, const std::string& logPath,
                             const std::string& leftover) {
    InstallSignalCleanup();
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);

    int rc = posix_spawnp(&pid_, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        ThrowSystemError("Cannot start", argv[0], rc);
    RegisterGroup(pid_, leftover);
}

OfficeProcess::~OfficeProcess() {
    KillAndWait();
}

void OfficeProcess::Reap(bool block) {
    if (reaped_ || pid_ <= 0)
        return;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        reaped_ = true;
        if (r == pid_ && WIFEXITED(status))
            exitDescription_ = "exit status " + std::to_string(WEXITSTATUS(status));
        else if (r == pid_ && WIFSIGNALED(status))
            exitDescription_ = "signal " + std::to_string(WTERMSIG(status));
        else
            exitDescription_ = "unknown status";
    }
}

bool OfficeProcess::Running() {
    if (pid_ <= 0)
        return false;
    Reap(false);
    return !reaped_;
}

bool OfficeProcess::WaitForGroupExit(std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        Reap(false);
        if (reaped_ && !ProcessGroupAlive(pid_))
            return true;
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void OfficeProcess::KillGroup() const {
    if (pid_ > 0)
        ::kill(-pid_, SIGKILL);
}

void OfficeProcess::KillAndWait() {
    if (pid_ <= 0)
        return;
    // Once the leader is reaped and the group is empty its number may be
    // reused: only a group that still has members is ours to kill.
    Reap(false);
    if (!reaped_ || ProcessGroupAlive(pid_))
        KillGroup();
    Reap(true);
    // The members of the group are reparented; their reaper is not us.
    WaitForGroupExit(std::chrono::seconds(10));
    UnregisterGroup(pid_);
    pid_ = -1;
}

} // namespace qf::wordproc
