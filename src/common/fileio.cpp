#include "common/fileio.h"

#include "common/error.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace qf {
namespace {

std::string DirectoryOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string TempNameBeside(const std::string& path) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(rng()));
    const std::string dir = DirectoryOf(path);
    const std::string base = path.substr(path.find_last_of('/') + 1);
    return (dir == "/" ? "" : dir) + "/." + base + suffix;
}

} // namespace

FileReader::FileReader(const std::string& path, FollowLinks follow) : path_(path) {
    const int flags = O_RDONLY | O_CLOEXEC | (follow == FollowLinks::No ? O_NOFOLLOW : 0);
    fd_ = ::open(path.c_str(), flags);
    if (fd_ < 0) {
        ThrowSystemError("Cannot open file", path, errno);
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && st.st_size > 0) {
        sizeHint_ = static_cast<std::size_t>(st.st_size);
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

void WriteFileAtomic(const std::string& path, std::string_view bytes, mode_t mode,
                     Durability durability) {
    const std::string tmp = TempNameBeside(path);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        ThrowSystemError("Cannot create file", path, errno);
    }
    auto fail = [&](const char* what) {
        int err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        ThrowSystemError(what, path, err);
    };
    // The umask may have narrowed the mode; owner-only files must stay so, and
    // others get exactly what the caller asked for.
    if (::fchmod(fd, mode) != 0) {
        fail("Cannot create file");
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("Cannot write file");
        }
        done += static_cast<size_t>(n);
    }
    if (durability == Durability::Immediate && ::fsync(fd) != 0) {
        fail("Cannot write file");
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        ThrowSystemError("Cannot write file", path, err);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        ThrowSystemError("Cannot create file", path, err);
    }
    if (durability == Durability::Deferred) {
        return;
    }
    // Make the rename itself durable.
    int dfd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
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
