#include "platform/messaging/maildir/fsops.h"

#include "common/error.h"
#include "common/fileio.h"
#include "platform/messaging/change_batch.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qf::mapi::maildir {

namespace {

#ifdef QF_FAULT_INJECTION
long g_killAfter = 0;
long g_steps = 0;

// Counts a step that changed the disk, and stops the process when told to.
void Step() {
    ++g_steps;
    if (g_killAfter > 0 && --g_killAfter == 0) {
        ::raise(SIGKILL);
    }
}
#else
void Step() {}
#endif

int Result(int rc) {
    return rc == 0 ? 0 : errno;
}

// Runs a read of the file layer, turning its failure into the errno.
template <class Read> int ErrnoOf(Read read) {
    try {
        read();
        return 0;
    } catch (const FileError& e) {
        return e.SystemError() != 0 ? e.SystemError() : EIO;
    }
}

} // namespace

#ifdef QF_FAULT_INJECTION
namespace testing {
void KillAfterSteps(long steps) {
    g_killAfter = steps;
}
long StepsTaken() {
    return g_steps;
}
} // namespace testing
#endif

int WriteNewFile(const std::string& path, std::string_view bytes, mode_t mode) {
    bool given = false;
    return WriteNewFileFrom(
        path,
        [&](std::string_view& piece) {
            piece = given ? std::string_view() : bytes;
            given = true;
            return true;
        },
        mode);
}

int WriteNewFileFrom(const std::string& path, const std::function<bool(std::string_view&)>& next,
                     mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return errno;
    }
    Step();
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(path.c_str());
        return err;
    };
    if (mode != 0600 && ::fchmod(fd, mode) != 0) {
        return fail(errno);
    }
    std::string_view bytes;
    for (;;) {
        if (!next(bytes)) {
            return fail(kSourceFailed);
        }
        if (bytes.empty()) {
            break;
        }
        std::size_t done = 0;
        while (done < bytes.size()) {
            const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, 1 << 20);
            const ssize_t n = ::write(fd, bytes.data() + done, chunk);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return fail(errno);
            }
            done += static_cast<std::size_t>(n);
            Step();
        }
    }
    if (ChangeBatch* batch = ChangeBatch::Current()) {
        // Made durable by the batch's sync, before anything relies on it.
        batch->Touched(path.substr(0, path.find_last_of('/')));
    } else if (::fsync(fd) != 0) {
        return fail(errno);
    }
    Step();
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(path.c_str());
        return err;
    }
    return 0;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
    int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL) {
        // A file system without RENAME_NOREPLACE: a plain rename after a check keeps
        // the move atomic (a link and an unlink would leave two names for a moment).
        struct stat st {};
        if (::lstat(to.c_str(), &st) == 0) {
            return EEXIST;
        }
        rc = ::rename(from.c_str(), to.c_str());
    }
    const int err = Result(rc);
    if (err == 0) {
        Step();
    }
    return err;
}

int RemoveFile(const std::string& path) {
    const int err = Result(::unlink(path.c_str()));
    if (err == 0) {
        Step();
    }
    return err;
}

int SyncFolder(const std::string& path) {
    if (ChangeBatch* batch = ChangeBatch::Current()) {
        batch->Touched(path);
        return 0;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const int err = Result(::fsync(fd));
    ::close(fd);
    Step();
    return err;
}

int ReadWholeFile(const std::string& path, std::string& bytes, struct stat* status) {
    bytes.clear();
    return ErrnoOf([&] {
        FileReader reader(path, FollowLinks::No);
        if (status != nullptr) {
            *status = reader.Status();
        }
        bytes.reserve(reader.SizeHint());
        while (reader.ReadSome(bytes, kNoSizeLimit) > 0) {
        }
    });
}

int ReadHeaderBytes(const std::string& path, std::string& bytes, struct stat* status) {
    bytes.clear();
    return ErrnoOf([&] {
        FileReader reader(path, FollowLinks::No);
        if (status != nullptr) {
            *status = reader.Status();
        }
        std::size_t scanned = 0;
        while (reader.ReadSome(bytes, 16384) > 0) {
            const std::size_t from = scanned > 0 ? scanned - 1 : 0;
            if (bytes.find("\n\n", from) != std::string::npos ||
                bytes.find("\n\r\n", from) != std::string::npos) {
                break;
            }
            scanned = bytes.size() > 2 ? bytes.size() - 2 : 0;
        }
    });
}

} // namespace qf::mapi::maildir
