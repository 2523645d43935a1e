// The text-filter tool (Siftloom Pro) run over the files a run has written.
#pragma once

#include "platform/registry/registry.h"
#include "run/run_host.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

inline constexpr const char* kFileListName = "filelist$.txt";

// Writes `directory` + "filelist$.txt": every file, each line ended by CR LF.
// Throws FileError.
void WriteFileList(const std::string& directory, const std::vector<std::string>& files);

// The tool's fixed command line.
std::string FilterCommandLine(const std::string& toolFolder, const std::string& filterFile,
                              const std::string& directory);

// Starts the command line (split by SplitCommandLine, run/command_line.h)
// in `folder` and waits for it, letting the host pump every `interval`, until
// it ends or the host is cancelled (the program then keeps running).  False
// when it could not be started.
bool RunAndWait(const std::string& folder, const std::string& commandLine, RunHost& host,
                std::chrono::milliseconds interval = std::chrono::milliseconds(500));

// Runs the filter over `filesWritten` when `filterFilename` is set: the file
// list, the tool's two settings, its command line and the wait.  Warns when
// the tool is not installed or cannot be started; throws only when the file
// list cannot be written.
void RunFilter(const std::string& filterFilename, const std::string& directory,
               const std::vector<std::string>& filesWritten, RunHost& host,
               registry::Registry& registry);

} // namespace qf
