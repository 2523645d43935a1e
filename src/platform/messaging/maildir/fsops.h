// The file-system steps of the Maildir provider.  Every step that changes the
// disk goes through here (create, write, fsync, rename, unlink), so a test can
// stop the process right after any of them and check what is left.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace qf::mapi::maildir {

// Each returns 0 or the errno of the failed call.
// O_EXCL, fsync; the file gets exactly `mode` (a rewritten message keeps the
// mode of the one it replaces).
int WriteNewFile(const std::string& path, std::string_view bytes, mode_t mode = 0600);
// The same with the bytes as `next` points at them, a piece at a time (an
// empty piece ends them; each stays valid until the next call).  When `next`
// fails (returns false) the file is removed and kSourceFailed returned.
inline constexpr int kSourceFailed = -1;
int WriteNewFileFrom(const std::string& path, const std::function<bool(std::string_view&)>& next,
                     mode_t mode = 0600);
int RenameNoReplace(const std::string& from, const std::string& to);
int RemoveFile(const std::string& path);
int SyncFolder(const std::string& path);
// Reads a whole file without following a symbolic link.  Returns 0 or errno.
// `status`, when given, gets the status of the file read.
int ReadWholeFile(const std::string& path, std::string& bytes, struct stat* status = nullptr);
// Reads the start of a file until the header block has ended (or the file has).
int ReadHeaderBytes(const std::string& path, std::string& bytes, struct stat* status = nullptr);

#ifdef QF_FAULT_INJECTION
// Only in the library variant built for crash-safety tests (qf_messaging_faults);
// the library the program links has no such hook.
namespace testing {
// After `steps` more changing steps the process kills itself with SIGKILL
// (0 or less: never).
void KillAfterSteps(long steps);
// Changing steps taken so far by this process.
long StepsTaken();
} // namespace testing
#endif

} // namespace qf::mapi::maildir
