#include "common/fileio.h"

#include "common/error.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace qf {
namespace {

std::string DirectoryOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A free name for the temporary copy of `path`: "." + its name + a random
// suffix, the name cut short so that the whole fits the file system wherever
// the final name does.
std::string TempNameBeside(const std::string& path) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(rng()));
    const std::string dir = DirectoryOf(path);
    std::string base = path.substr(path.find_last_of('/') + 1);
    const std::size_t limit = FileNameLimit(dir);
    const std::size_t extra = 1 + std::strlen(suffix);
    static_assert(kTemporaryNameExtra == 1 + 21, "a dot, then \".\" + 16 digits + \".tmp\"");
    base.resize(std::min(base.size(), limit > extra ? limit - extra : 0));
    return (dir == "/" ? "" : dir) + "/." + base + suffix;
}

// The file a write of `path` lands on: `path` itself or, when links are
// followed, the end of its chain of symbolic links.  `existing` gets that
// file's status, or nothing when there is no such file yet.
std::string WriteTarget(const std::string& path, FollowLinks links,
                        std::optional<struct stat>& existing) {
    constexpr int kMaxLinks = 40; // as the kernel allows
    std::string target = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0) {
            existing.reset();
            return target;
        }
        if (!S_ISLNK(st.st_mode)) {
            existing = st;
            return target;
        }
        if (links == FollowLinks::No) {
            throw FileError("Cannot create file " + path +
                                ": it is a symbolic link, and a link is not replaced by a file",
                            ELOOP);
        }
        if (hops == kMaxLinks) {
            ThrowSystemError("Cannot create file", path, ELOOP);
        }
        std::string dest(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
        const ssize_t n = ::readlink(target.c_str(), dest.data(), dest.size());
        if (n < 0) {
            ThrowSystemError("Cannot create file", path, errno);
        }
        dest.resize(static_cast<std::size_t>(n));
        target = !dest.empty() && dest[0] == '/' ? dest : DirectoryOf(target) + "/" + dest;
    }
}

// Gives the new file `fd` the owner, group and mode of the file it replaces.
// Returns 0 or errno.
int KeepOwnerAndMode(int fd, const struct stat& old) {
    // Only a privileged process may give a file away; anyone may keep a
    // group they belong to.  What cannot be kept is left as created.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    return ::fchmod(fd, old.st_mode & 07777) == 0 ? 0 : errno;
}

// Writes every byte and flushes them to disk.  Returns 0 or errno.
int WriteAllAndSync(int fd, std::string_view bytes, bool sync) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return !sync || ::fsync(fd) == 0 ? 0 : errno;
}

} // namespace

FileReader::FileReader(const std::string& path, FollowLinks follow) : path_(path) {
    const int flags = O_RDONLY | O_CLOEXEC | (follow == FollowLinks::No ? O_NOFOLLOW : 0);
    fd_ = ::open(path.c_str(), flags);
    if (fd_ < 0) {
        ThrowSystemError("Cannot open file", path, errno);
    }
    if (::fstat(fd_, &status_) != 0) {
        status_ = {};
    } else if (status_.st_size > 0) {
        sizeHint_ = static_cast<std::size_t>(status_.st_size);
    }
}

FileReader::~FileReader() {
    ::close(fd_);
}

std::size_t FileReader::ReadSome(std::string& out, std::size_t maxBytes) {
    char buf[65536];
    const std::size_t want = std::min(maxBytes, sizeof buf);
    if (want == 0) {
        return 0;
    }
    ssize_t n;
    do {
        n = ::read(fd_, buf, want);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        ThrowSystemError("Cannot read file", path_, errno);
    }
    out.append(buf, static_cast<std::size_t>(n));
    return static_cast<std::size_t>(n);
}

std::string ReadFileBytes(const std::string& path, std::size_t maxBytes, FollowLinks follow) {
    FileReader reader(path, follow);
    std::string out;
    out.reserve(std::min(reader.SizeHint(), maxBytes));
    while (out.size() < maxBytes && reader.ReadSome(out, maxBytes - out.size()) > 0) {
    }
    return out;
}

void WriteFileAtomic(const std::string& path, std::string_view bytes, mode_t newFileMode,
                     FollowLinks links, Durability durability) {
    AtomicFileWriter writer(path, newFileMode, links, durability);
    writer.Write(bytes);
    writer.Commit();
}

AtomicFileWriter::AtomicFileWriter(const std::string& path, mode_t newFileMode, FollowLinks links,
                                   Durability durability)
    : path_(path), durability_(durability) {
    std::optional<struct stat> existing;
    target_ = WriteTarget(path, links, existing);
    const bool replacing = existing.has_value();
    struct stat old {};
    if (replacing) {
        old = *existing;
    }
    if (replacing && !S_ISREG(old.st_mode)) {
        throw FileError("Cannot create file " + path + ": it is not a regular file", EEXIST);
    }
    tmp_ = TempNameBeside(target_);
    // A replacement starts owner-only and gets the old file's mode once its
    // owner is settled: it is never readable by more people than either.
    fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                 replacing ? mode_t{0600} : newFileMode);
    if (fd_ < 0) {
        ThrowSystemError("Cannot create file", path, errno);
    }
    if (const int err = replacing ? KeepOwnerAndMode(fd_, old) : 0; err != 0) {
        Fail("Cannot create file", err);
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(tmp_.c_str());
    }
}

void AtomicFileWriter::Fail(const char* what, int err) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    ::unlink(tmp_.c_str());
    ThrowSystemError(what, path_, err);
}

void AtomicFileWriter::Write(std::string_view bytes) {
    if (fd_ < 0) {
        ThrowSystemError("Cannot write file", path_, EBADF);
    }
    if (const int err = WriteAllAndSync(fd_, bytes, false); err != 0) {
        Fail("Cannot write file", err);
    }
}

void AtomicFileWriter::Commit() {
    if (fd_ < 0) {
        ThrowSystemError("Cannot write file", path_, EBADF);
    }
    if (const int err = WriteAllAndSync(fd_, {}, durability_ == Durability::Immediate); err != 0) {
        Fail("Cannot write file", err);
    }
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp_.c_str());
        ThrowSystemError("Cannot write file", path_, err);
    }
    if (::rename(tmp_.c_str(), target_.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp_.c_str());
        ThrowSystemError("Cannot create file", path_, err);
    }
    if (durability_ == Durability::Deferred) {
        return;
    }
    // Make the rename itself durable.
    const int dfd = ::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

namespace {
thread_local FileNameLimitMemo* g_nameLimits = nullptr;
} // namespace

FileNameLimitMemo::FileNameLimitMemo() : outer_(g_nameLimits) {
    g_nameLimits = this;
}

FileNameLimitMemo::~FileNameLimitMemo() {
    g_nameLimits = outer_;
}

std::size_t FileNameLimit(const std::string& folder) {
    if (g_nameLimits != nullptr) {
        auto& limits = g_nameLimits->limits_;
        if (const auto found = limits.find(folder); found != limits.end()) {
            return found->second;
        }
        FileNameLimitMemo* memo = g_nameLimits;
        g_nameLimits = nullptr; // asked afresh below
        const std::size_t limit = FileNameLimit(folder);
        g_nameLimits = memo;
        return limits.emplace(folder, limit).first->second;
    }
    std::string probe = folder.empty() ? "." : folder;
    struct statvfs fs {};
    while (::statvfs(probe.c_str(), &fs) != 0) {
        if (errno != ENOENT || probe == "/" || probe == ".") {
            return NAME_MAX;
        }
        while (probe.size() > 1 && probe.back() == '/') {
            probe.pop_back();
        }
        probe = DirectoryOf(probe);
    }
    return fs.f_namemax > 0 ? std::min<std::size_t>(fs.f_namemax, NAME_MAX) : NAME_MAX;
}

FileSystemSync::FileSystemSync(const std::string& folder) : folder_(folder) {
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        ThrowSystemError("Cannot open file", folder, errno);
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
        device_ = st.st_dev;
    }
}

FileSystemSync::~FileSystemSync() {
    ::close(fd_);
}

void FileSystemSync::Sync() {
    if (::syncfs(fd_) != 0) {
        ThrowSystemError("Cannot write file", folder_, errno);
    }
}

void MakeDirectories(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) {
        ThrowSystemError("Cannot create folder", path, ec.value());
    }
}

std::string ReadFileHead(const std::string& path, std::size_t maxBytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ThrowSystemError("Cannot open file", path, errno);
    }
    // Grown a block at a time: a generous limit costs nothing on a small file.
    constexpr std::size_t kBlock = 64 * 1024;
    std::string head;
    std::size_t got = 0;
    while (got < maxBytes) {
        head.resize(got + (maxBytes - got < kBlock ? maxBytes - got : kBlock));
        ssize_t n = ::read(fd, head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            int err = errno;
            ::close(fd);
            ThrowSystemError("Cannot read file", path, err);
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    head.resize(got);
    return head;
}

} // namespace qf
