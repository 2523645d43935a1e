#include "platform/shell/process.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
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

} // namespace

std::optional<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                const SpawnOptions& options, int& error) {
    error = 0;
    if (argv.empty() || argv[0].empty()) {
        error = ENOENT;
        return std::nullopt;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!options.folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.folder.c_str());
    }
    if (options.quiet) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    const bool search = argv[0].find('/') == std::string::npos;
    const int rc = search ? ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ)
                          : ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = rc;
        return std::nullopt;
    }
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(pid_t pid) : pid_(pid), pidfd_(OpenPidFd(pid)) {
    if (pidfd_ >= 0) {
        ::fcntl(pidfd_, F_SETFD, FD_CLOEXEC);
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), pidfd_(other.pidfd_), ended_(other.ended_), status_(other.status_) {
    other.pid_ = -1;
    other.pidfd_ = -1;
    other.ended_ = true;
}

ChildProcess::~ChildProcess() {
    if (pidfd_ >= 0) {
        ::close(pidfd_);
    }
    if (pid_ > 0 && !ended_ && !Reap(false)) {
        // Let it run; collect it when it ends so it leaves no zombie.
        const pid_t pid = pid_;
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
}

bool ChildProcess::Reap(bool block) {
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
        return false;
    }
    ended_ = true;
    if (r < 0) {
        status_ = -1;
    } else if (WIFEXITED(status)) {
        status_ = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        status_ = 128 + WTERMSIG(status);
    }
    return true;
}

bool ChildProcess::WaitFor(std::chrono::milliseconds timeout) {
    if (ended_ || pid_ <= 0) {
        return true;
    }
    if (Reap(false)) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return Reap(false);
        }
        if (pidfd_ >= 0) {
            pollfd p{pidfd_, POLLIN, 0};
            const int n = ::poll(&p, 1, static_cast<int>(left.count()));
            if (n > 0) {
                return Reap(true);
            }
            if (n < 0 && errno != EINTR) {
                ::close(pidfd_);
                pidfd_ = -1;
            }
        } else {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
            if (Reap(false)) {
                return true;
            }
        }
    }
}

} // namespace qf
