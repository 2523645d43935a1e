#include "run/filter_tool.h"

#include "common/error.h"
#include "common/fileio.h"
#include "i18n/translate.h"
#include "platform/shell/process.h"
#include "run/command_line.h"
#include "settings/settings.h"

#include <sys/stat.h>
#include <unistd.h>

namespace qf {
namespace {

bool IsProgramFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

void WriteFileList(const std::string& directory, const std::vector<std::string>& files) {
    std::string list;
    for (const auto& file : files) {
        list += file;
        list += "\r\n";
    }
    WriteFileAtomic(directory + kFileListName, list);
}

std::string FilterCommandLine(const std::string& toolFolder, const std::string& filterFile,
                              const std::string& directory) {
    return toolFolder + "siftloom.exe /MINIMIZED \"/f=" + filterFile + "\" \"/L=" + directory +
           kFileListName + "\" /deletelistfile /g /q";
}

bool RunAndWait(const std::string& folder, const std::string& commandLine, RunHost& host,
                std::chrono::milliseconds interval) {
    const std::vector<std::string> argv = SplitCommandLine(commandLine, IsProgramFile);
    int error = 0;
    auto child = ChildProcess::Start(argv, SpawnOptions{folder, false}, error);
    if (!child) {
        return false;
    }
    for (;;) {
        host.PumpMessages();
        const bool ended = child->WaitFor(interval);
        host.PumpMessages();
        if (ended || host.Cancelled()) {
            break;
        }
    }
    return true;
}

void RunFilter(const std::string& filterFilename, const std::string& directory,
               const std::vector<std::string>& filesWritten, RunHost& host,
               registry::Registry& registry) {
    if (filterFilename.empty()) {
        return;
    }
    const std::string filterFile = Settings::StripQuotes(filterFilename);
    const std::string folder = Settings::FilterToolFolder(registry);
    if (folder.empty()) {
        host.ShowWarning(TranslateMsg(
            8100, "Cannot locate Siftloom Pro's folder - Siftloom Pro processing disabled"));
        host.PumpMessages();
        return;
    }
    WriteFileList(directory, filesWritten);
    host.SetStatusText(
        TranslateMsg(8110, "Waiting for Siftloom Pro to finish (status unknown)..."));
    host.PumpMessages();
    // The tool is told to start without its wizard and tips, when its key
    // exists; nothing is created for a tool that keeps no settings.
    if (registry.KeyExists(kFilterToolKey)) {
        registry.SetValue(kFilterToolKey, "showWizard", registry::Value::Dword(0));
        registry.SetValue(kFilterToolKey, "showTips", registry::Value::Dword(0));
        try {
            registry.Flush();
        } catch (const Error&) {
            // The tool then shows its wizard: not worth stopping the run for.
        }
    }
    const std::string commandLine = FilterCommandLine(folder, filterFile, directory);
    if (!RunAndWait(folder, commandLine, host)) {
        host.ShowWarning(
            TranslateFmt(8101, "Siftloom Pro could not be started:\r\n%s", {commandLine}));
        host.PumpMessages();
    }
}

} // namespace qf
