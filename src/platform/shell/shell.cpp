#include "platform/shell/shell.h"

#include "common/error.h"
#include "common/process.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>

namespace qf {
namespace {

using std::chrono::milliseconds;

// xdg-open returns once the handler has started, or with an error code when
// it found none.  A handler that keeps it waiting longer is taken as working.
constexpr milliseconds kOpenerWait{10000};
// A program that fails at once (no display, bad file) says so quickly.
constexpr milliseconds kProgramWait{1000};
// lp returns once the request is queued or refused.
constexpr milliseconds kPrintWait{30000};

std::mutex clipboardMutex;
ClipboardWriter clipboardWriter;

// An argument that starts with "-" would be taken as an option.
std::string AsOperand(const std::string& text) {
    if (!text.empty() && text[0] == '-') {
        std::string operand("./");
        operand += text;
        return operand;
    }
    return text;
}

int ErrnoToCode(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return kShellFileNotFound;
    case EACCES:
    case EPERM:
        return kShellAccessDenied;
    default:
        return kShellFailed;
    }
}

} // namespace

int ShellRun(const std::string& file, const std::vector<std::string>& parameters,
             const std::string& folder, ShowMode /*mode*/) {
    if (file.empty()) {
        return kShellFileNotFound;
    }
    std::vector<std::string> argv;
    milliseconds wait = kProgramWait;
    if (parameters.empty()) {
        argv = {"xdg-open", AsOperand(file)};
        wait = kOpenerWait;
    } else {
        argv.push_back(file);
        argv.insert(argv.end(), parameters.begin(), parameters.end());
    }
    int error = 0;
    auto child = ChildProcess::Start(argv, SpawnOptions{folder, false}, error);
    if (!child) {
        return parameters.empty() ? kShellNoAssociation : ErrnoToCode(error);
    }
    if (!child->WaitFor(wait)) {
        return kShellOk; // still running: it was started
    }
    switch (child->ExitStatus()) {
    case 0:
        return kShellOk;
    case 2:
        return parameters.empty() ? kShellFileNotFound : kShellNoAssociation;
    default:
        return kShellNoAssociation;
    }
}

std::string TextEditorProgram() {
    if (const char* chosen = std::getenv("QUILLFENCE_TEXT_EDITOR"); chosen && *chosen) {
        return chosen;
    }
    static constexpr std::array<const char*, 10> kEditors = {
        "gnome-text-editor", "gedit",   "kate", "kwrite", "mousepad", "xed", "pluma",
        "featherpad",        "leafpad", "geany"};
    for (const char* editor : kEditors) {
        std::string found = FindProgramOnPath(editor);
        if (!found.empty()) {
            return found;
        }
    }
    return {};
}

void SetClipboardWriter(ClipboardWriter writer) {
    std::lock_guard lock(clipboardMutex);
    clipboardWriter = std::move(writer);
}

bool ShellOpen(const std::string& text) {
    if (ShellRun(text, {}, {}, ShowMode::Show) > 32) {
        return true;
    }
    const std::string editor = TextEditorProgram();
    if (!editor.empty() && ShellRun(editor, {AsOperand(text)}, {}, ShowMode::Show) > 32) {
        return false;
    }
    bool copied = false;
    {
        std::lock_guard lock(clipboardMutex);
        if (clipboardWriter) {
            try {
                copied = clipboardWriter(text);
            } catch (...) {
                copied = false;
            }
        }
    }
    if (copied) {
        throw Error("Shell command failed. It has been copied to the clipboard.\r\n" + text);
    }
    throw Error("Shell command failed.\r\n" + text);
}

bool ShellPrint(const std::string& file) {
    if (file.empty()) {
        return false;
    }
    int error = 0;
    auto child = ChildProcess::Start({"lp", "-s", AsOperand(file)}, SpawnOptions{{}, true}, error);
    if (!child) {
        return false;
    }
    return child->WaitFor(kPrintWait) && child->ExitStatus() == 0;
}

} // namespace qf
