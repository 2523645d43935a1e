#include "run/filter_tool.h"

#include "common/fileio.h"
#include "i18n/translate.h"
#include "platform/shell/process.h"
#include "run/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

namespace qf {
namespace {

bool IsProgramFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::string FilterToolFolder(RegistryAccess& registry) {
    std::optional<std::string> root = registry.ReadString(kFilterToolKey, "rootDir");
    if (!root || root->empty()) {
        return {};
    }
    if (root->back() != '/') {
        *root += '/';
    }
    return *root;
}

std::string StripQuotes(std::string_view text) {
    if (!text.empty() && text.front() == '"') {
        text.remove_prefix(1);
    }
    if (!text.empty() && text.back() == '"') {
        text.remove_suffix(1);
    }
    return std::string(text);
}

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
    const std::vector<std::string> argv = CommandLineToArgv(commandLine, IsProgramFile);
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
               RegistryAccess& registry) {
    if (filterFilename.empty()) {
        return;
    }
    const std::string filterFile = StripQuotes(filterFilename);
    const std::string folder = FilterToolFolder(registry);
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
    registry.WriteIntegerIfKeyExists(kFilterToolKey, "showWizard", 0);
    registry.WriteIntegerIfKeyExists(kFilterToolKey, "showTips", 0);
    const std::string commandLine = FilterCommandLine(folder, filterFile, directory);
    if (!RunAndWait(folder, commandLine, host)) {
        host.ShowWarning(
            TranslateFmt(8101, "Siftloom Pro could not be started:\r\n%s", {commandLine}));
        host.PumpMessages();
    }
}

} // namespace qf
