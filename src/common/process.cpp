#include "common/process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qf {
namespace {

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

std::vector<char*> PointersTo(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (const auto& s : strings) {
        pointers.push_back(const_cast<char*>(s.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Owns the two attribute objects posix_spawn takes.
class SpawnSetup {
public:
    explicit SpawnSetup(const SpawnOptions& options) {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attr_);
        AddFiles(options);
        AddAttributes(options.newProcessGroup);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attr_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attr() const { return &attr_; }

private:
    void AddFiles(const SpawnOptions& options) {
        if (!options.folder.empty()) {
            posix_spawn_file_actions_addchdir_np(&actions_, options.folder.c_str());
        }
        if (!options.logFile.empty()) {
            posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_addopen(&actions_, 1, options.logFile.c_str(),
                                             O_WRONLY | O_CREAT | O_APPEND, 0600);
            posix_spawn_file_actions_adddup2(&actions_, 1, 2);
        } else if (options.standardOutput >= 0) {
            posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_adddup2(&actions_, options.standardOutput, 1);
            posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
        } else if (options.quiet) {
            posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
        }
    }

    void AddAttributes(bool newProcessGroup) {
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
            sigaddset(&defaults, sig);
        }
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &defaults);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (newProcessGroup) {
            posix_spawnattr_setpgroup(&attr_, 0);
            flags |= POSIX_SPAWN_SETPGROUP;
        }
        posix_spawnattr_setflags(&attr_, flags);
    }

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attr_;
};

// Calls `visit(pid)` for each live (not zombie) process of group `pgid` until
// it returns true; returns whether it did.
template <class Visit> bool AnyInGroup(pid_t pgid, Visit visit) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    bool found = false;
    while (struct dirent* e = ::readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') {
            continue;
        }
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // pid (comm) state ppid pgrp ...; comm may hold spaces and parentheses.
        auto close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        char state = 0;
        long ppid = 0;
        long pgrp = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &pgrp) != 3) {
            continue;
        }
        if (pgrp == pgid && state != 'Z' && state != 'X' &&
            visit(static_cast<pid_t>(std::atol(e->d_name)))) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

} // namespace

std::optional<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                const SpawnOptions& options, int& error) {
    error = 0;
    if (argv.empty() || argv[0].empty()) {
        error = ENOENT;
        return std::nullopt;
    }
    std::vector<char*> args = PointersTo(argv);
    std::vector<char*> env;
    if (options.environment) {
        env = PointersTo(*options.environment);
    }
    SpawnSetup setup(options);
    pid_t pid = -1;
    // posix_spawnp runs a name holding "/" as it stands.
    const int rc = ::posix_spawnp(&pid, args[0], setup.actions(), setup.attr(), args.data(),
                                  options.environment ? env.data() : environ);
    if (rc != 0) {
        error = rc;
        return std::nullopt;
    }
    return ChildProcess(pid, options.newProcessGroup);
}

ChildProcess::ChildProcess(pid_t pid, bool groupLeader)
    : pid_(pid), pidfd_(OpenPidFd(pid)), groupLeader_(groupLeader) {
    if (pidfd_ >= 0) {
        ::fcntl(pidfd_, F_SETFD, FD_CLOEXEC);
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), pidfd_(other.pidfd_), groupLeader_(other.groupLeader_),
      ended_(other.ended_), collected_(other.collected_.load()), exitCode_(other.exitCode_),
      signal_(other.signal_) {
    other.pid_ = -1;
    other.pidfd_ = -1;
    other.ended_ = true;
    other.collected_ = true;
}

ChildProcess::~ChildProcess() {
    if (pidfd_ >= 0) {
        ::close(pidfd_);
    }
    if (pid_ <= 0 || collected_) {
        return;
    }
    if (ended_) {
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        return;
    }
    // Let it run; collect it when it ends so it leaves no zombie.
    const pid_t pid = pid_;
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

bool ChildProcess::NoteEnd(bool block) {
    if (ended_ || pid_ <= 0) {
        return true;
    }
    siginfo_t info{};
    const int flags = WEXITED | WNOWAIT | (block ? 0 : WNOHANG);
    int rc;
    do {
        rc = ::waitid(P_PID, static_cast<id_t>(pid_), &info, flags);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        ended_ = true;
        collected_ = true;
        return true;
    }
    if (info.si_pid == 0) {
        return false;
    }
    ended_ = true;
    if (info.si_code == CLD_EXITED) {
        exitCode_ = info.si_status;
    } else {
        signal_ = info.si_status;
    }
    return true;
}

bool ChildProcess::WaitFor(std::chrono::milliseconds timeout) {
    if (NoteEnd(false)) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return NoteEnd(false);
        }
        if (pidfd_ >= 0) {
            pollfd p{pidfd_, POLLIN, 0};
            const int n = ::poll(&p, 1, static_cast<int>(left.count()));
            if (n > 0) {
                return NoteEnd(true);
            }
            if (n < 0 && errno != EINTR) {
                ::close(pidfd_);
                pidfd_ = -1;
            }
        } else {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
            if (NoteEnd(false)) {
                return true;
            }
        }
    }
}

int ChildProcess::ExitStatus() const {
    return signal_ != 0 ? 128 + signal_ : exitCode_;
}

std::string ChildProcess::ExitDescription() const {
    if (signal_ != 0) {
        return "signal " + std::to_string(signal_);
    }
    if (exitCode_ >= 0) {
        return "exit status " + std::to_string(exitCode_);
    }
    return "unknown status";
}

void ChildProcess::KillGroup() const {
    if (groupLeader_ && pid_ > 0 && !collected_) {
        ::kill(-pid_, SIGKILL);
    }
}

bool ChildProcess::WaitForGroupExit(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        // The members are reparented when the leader ends: their reaper is
        // not us, so they are watched in /proc.
        if (NoteEnd(false) && (!groupLeader_ || collected_ || !ProcessGroupAlive(pid_))) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool ChildProcess::KillGroupAndWait(std::chrono::milliseconds limit) {
    KillGroup();
    return WaitForGroupExit(limit);
}

bool ProcessGroupAlive(pid_t pgid) {
    if (pgid <= 0) {
        return false;
    }
    if (::kill(-pgid, 0) != 0 && errno == ESRCH) {
        return false;
    }
    // kill() also reaches zombies nobody has collected yet: look closer.
    return AnyInGroup(pgid, [](pid_t) { return true; });
}

bool ProcessGroupCommandHas(pid_t pgid, const std::string& text) {
    if (pgid <= 0) {
        return false;
    }
    return AnyInGroup(pgid, [&](pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return cmdline.find(text) != std::string::npos;
    });
}

std::string FindProgramOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty()) {
        return {};
    }
    const std::string list(path);
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t colon = list.find(':', start);
        if (colon == std::string::npos) {
            colon = list.size();
        }
        // An empty entry would mean the current folder: never searched.
        if (colon > start) {
            std::string candidate = list.substr(start, colon - start) + "/" + name;
            if (IsExecutableFile(candidate)) {
                return candidate;
            }
        }
        start = colon + 1;
    }
    return {};
}

} // namespace qf
