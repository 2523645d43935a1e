// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <unordered_map>

namespace qf {

enum class FollowLinks { Yes, No };

inline constexpr std::size_t kNoSizeLimit = SIZE_MAX;

// A file read front to back.  A read that a signal interrupts is tried again.
class FileReader {
public:
    // Throws FileError "Cannot open file <path>: <reason>".  With FollowLinks::No
    // a symbolic link is refused (ELOOP).
    explicit FileReader(const std::string& path, FollowLinks follow = FollowLinks::Yes);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Appends up to `maxBytes` more bytes to `out` and returns how many; 0 at the
    // end of the file.  Throws FileError "Cannot read file <path>: <reason>".
    std::size_t ReadSome(std::string& out, std::size_t maxBytes);
    // The file's size when it was opened (0 when unknown): a hint for reserving.
    std::size_t SizeHint() const { return sizeHint_; }
    // The status of the file opened (all zero when fstat failed): the file
    // read, even when the name meanwhile leads to another one.
    const struct stat& Status() const { return status_; }

private:
    std::string path_;
    int fd_ = -1;
    std::size_t sizeHint_ = 0;
    struct stat status_ {};
};

// Reads a whole file, or its first `maxBytes` bytes when it is longer (a caller
// that refuses longer files asks for one byte more than it accepts).  Throws
// FileError naming the path and the system's reason.
std::string ReadFileBytes(const std::string& path, std::size_t maxBytes = kNoSizeLimit,
                          FollowLinks follow = FollowLinks::Yes);

// Replaces `path` with `bytes` so that a crash or a failed write never leaves a
// half-written file under the final name: the bytes go to a temporary file in
// the same folder, are flushed to disk, and the temporary file is renamed over
// the target.  On failure the old file is untouched and FileError is thrown.
//
// Permissions: a new file gets `newFileMode` less the umask, as open(2) gives
// it (0666 for ordinary files, 0600 for settings and files that may hold
// passwords); a file being replaced keeps its mode, and its owner and group as
// far as this process may set them.
//
// Symbolic links: with FollowLinks::No a link at `path` is refused (FileError,
// nothing written); with FollowLinks::Yes the file the link leads to is
// replaced and the link stays.  Anything else that is not a regular file is
// refused.
//
// With Durability::Deferred the flushes are left out: the caller makes a whole
// batch of files durable at once with FileSystemSync before it relies on them
// (the rename still never exposes a partly written file).
enum class Durability { Immediate, Deferred };
void WriteFileAtomic(const std::string& path, std::string_view bytes, mode_t newFileMode = 0666,
                     FollowLinks links = FollowLinks::No,
                     Durability durability = Durability::Immediate);

// A file written piece by piece and put in place whole, with the guarantees
// of WriteFileAtomic (same permissions, links and durability): the pieces go
// to a temporary file beside the target, and Commit renames it over the
// target.  Destroyed without a Commit (a failed read of what was to be
// written), it removes the temporary file and leaves the target untouched.
class AtomicFileWriter {
public:
    // Throws FileError "Cannot create file <path>: <reason>".
    explicit AtomicFileWriter(const std::string& path, mode_t newFileMode = 0666,
                              FollowLinks links = FollowLinks::No,
                              Durability durability = Durability::Immediate);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Throws FileError "Cannot write file <path>: <reason>".
    void Write(std::string_view bytes);
    // Flushes (unless deferred), closes and renames into place.  Throws
    // FileError; the temporary file is gone then and the target untouched.
    void Commit();

private:
    [[noreturn]] void Fail(const char* what, int err);

    std::string path_;
    std::string target_;
    std::string tmp_;
    Durability durability_;
    int fd_ = -1;
};

// How many bytes longer than the target's path the temporary path of
// WriteFileAtomic can be (its name is cut to fit the folder's name limit).
inline constexpr std::size_t kTemporaryNameExtra = 22;

// The longest file name, in bytes, that the file system holding `folder` takes
// (never more than the system's NAME_MAX).  A folder not there yet is judged
// by its nearest existing parent.
std::size_t FileNameLimit(const std::string& folder);

// While one lives, FileNameLimit answers each folder asked about on this
// thread from its first answer: a run asks about the same folder for every
// file it writes (the name's check, then the temporary name), and the
// folder's file system does not change under a run.  Memos nest.
class FileNameLimitMemo {
public:
    FileNameLimitMemo();
    ~FileNameLimitMemo();
    FileNameLimitMemo(const FileNameLimitMemo&) = delete;
    FileNameLimitMemo& operator=(const FileNameLimitMemo&) = delete;

private:
    friend std::size_t FileNameLimit(const std::string& folder);
    FileNameLimitMemo* outer_;
    std::unordered_map<std::string, std::size_t> limits_;
};

// Makes everything written to the file system that holds a folder durable
// with one call (syncfs): a batch of files and renames at once.  The folder is
// held open from construction on, so that Sync() reports every write-back
// failure of that file system since then (one that happened between two
// syncs included).
class FileSystemSync {
public:
    // Throws FileError "Cannot open file <folder>: <reason>".
    explicit FileSystemSync(const std::string& folder);
    ~FileSystemSync();
    FileSystemSync(const FileSystemSync&) = delete;
    FileSystemSync& operator=(const FileSystemSync&) = delete;

    // Throws FileError "Cannot write file <folder>: <reason>" when a write
    // back failed (a full disk, an I/O error).
    void Sync();
    // The file system's device, to sync each file system once.
    dev_t Device() const { return device_; }

private:
    std::string folder_;
    int fd_ = -1;
    dev_t device_ = 0;
};

// Creates `path` and its parents when missing.  Throws FileError.
void MakeDirectories(const std::string& path);

// Reads at most `maxBytes` from the start of a file (fewer when it is shorter).
// Throws FileError naming the path and the reason.
std::string ReadFileHead(const std::string& path, std::size_t maxBytes);

} // namespace qf
