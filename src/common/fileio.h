// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace qf {

// Reads a whole file.  Throws FileError naming the path and the reason.
std::string ReadFileBytes(const std::string& path);

// Replaces `path` with `bytes` so that a crash or a failed write never leaves a
// half-written file under the final name: the bytes go to a temporary file in
// the same folder, are flushed to disk, and the temporary file is renamed over
// the target.  On failure the old file is untouched and FileError is thrown.
void WriteFileAtomic(const std::string& path, std::string_view bytes, mode_t mode = 0644);

// Creates `path` and its parents when missing.  Throws FileError.
void MakeDirectories(const std::string& path);

// Reads at most `maxBytes` from the start of a file (fewer when it is shorter).
// Throws FileError naming the path and the reason.
std::string ReadFileHead(const std::string& path, std::size_t maxBytes);

} // namespace qf
