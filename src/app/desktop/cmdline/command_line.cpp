#include "app/desktop/cmdline/command_line.h"

#include "common/error.h"
#include "common/fileio.h"
#include "i18n/translate.h"

#include <algorithm>
#include <cctype>

namespace qf::desktop {

namespace {

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) ==
               std::toupper(static_cast<unsigned char>(b));
    });
}

std::string PathAfter(const std::string& text, std::size_t prefixLength) {
    return text.substr(prefixLength, kMaxParameterPath);
}

// "/home/a/jobs.qfo" is a path, "/F=/home/a/jobs.qfo" a switch: a path has a
// second "/" before any "=".
bool IsAbsolutePath(const std::string& text) {
    const std::size_t slash = text.find('/', 1);
    return text.size() > 1 && text[0] == '/' && slash != std::string::npos &&
           slash < text.find('=');
}

Parameter ClassifySlashSwitch(const std::string& text, ParameterSource source) {
    if (StartsWithNoCase(text, "/Z=") && source == ParameterSource::CommandLine) {
        return {ParameterKind::CommandFile, PathAfter(text, 3)};
    }
    if (StartsWithNoCase(text, "/F=")) {
        return {ParameterKind::OpenFile, PathAfter(text, 3)};
    }
    if (StartsWithNoCase(text, "/G")) {
        return {ParameterKind::Go, {}};
    }
    if (StartsWithNoCase(text, "/Q")) {
        return {ParameterKind::Quit, {}};
    }
    if (StartsWithNoCase(text, "/UNINSTALL")) {
        return {ParameterKind::Uninstall, {}};
    }
    if (StartsWithNoCase(text, "/UPDATECOUNT")) {
        return {ParameterKind::UpdateCount, {}};
    }
    return {ParameterKind::Invalid, text};
}

Parameter ClassifyLongSwitch(const std::string& text, ParameterSource source) {
    static const struct {
        const char* name;
        ParameterKind kind;
    } kFlags[] = {{"--go", ParameterKind::Go},
                  {"--quit", ParameterKind::Quit},
                  {"--uninstall", ParameterKind::Uninstall},
                  {"--update-count", ParameterKind::UpdateCount},
                  {"--help", ParameterKind::Help},
                  {"--version", ParameterKind::Version}};
    for (const auto& flag : kFlags) {
        if (text == flag.name) {
            return {flag.kind, {}};
        }
    }
    if (text.rfind("--file=", 0) == 0 && text.size() > 7) {
        return {ParameterKind::OpenFile, PathAfter(text, 7)};
    }
    if (text.rfind("--commands=", 0) == 0 && text.size() > 11 &&
        source == ParameterSource::CommandLine) {
        return {ParameterKind::CommandFile, PathAfter(text, 11)};
    }
    return {ParameterKind::Invalid, text};
}

} // namespace

Parameter ClassifyParameter(const std::string& text, ParameterSource source) {
    if (text.empty()) {
        return {};
    }
    if (IsAbsolutePath(text)) {
        return {ParameterKind::OpenFile, PathAfter(text, 0)};
    }
    if (text[0] == '/') {
        return ClassifySlashSwitch(text, source);
    }
    if (text[0] == '-' && text.size() > 1) {
        return ClassifyLongSwitch(text, source);
    }
    if (source == ParameterSource::CommandLine) {
        return {ParameterKind::OpenFile, PathAfter(text, 0)};
    }
    return {};
}

std::vector<std::string> JoinSwitchValues(const std::vector<std::string>& args) {
    std::vector<std::string> joined;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--file" || args[i] == "--commands") && i + 1 < args.size()) {
            joined.push_back(args[i] + "=" + args[i + 1]);
            ++i;
        } else {
            joined.push_back(args[i]);
        }
    }
    return joined;
}

CommandLineResult CommandLineProcessor::Process(const std::vector<std::string>& params) {
    result_ = {};
    target_.SetUpdateCount(false);
    for (const std::string& text : params) {
        const Parameter parameter = ClassifyParameter(text, ParameterSource::CommandLine);
        const bool goOn = parameter.kind == ParameterKind::CommandFile
                              ? HandleCommandFile(parameter.text)
                              : Handle(parameter);
        if (!goOn) {
            result_.completed = false;
            break;
        }
        if (result_.uninstalled) {
            break; // nothing may be stored again for this user
        }
    }
    target_.SetUpdateCount(false);
    if (!result_.completed) {
        // The window stays open to show what went wrong.
        result_.endRequested = false;
    }
    return result_;
}

bool CommandLineProcessor::HandleCommandFile(const std::string& path) {
    std::string bytes;
    try {
        bytes = ReadFileBytes(path);
    } catch (const std::exception& e) {
        target_.ShowError(e.what());
        return false;
    }
    std::size_t start = 0;
    while (start <= bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && !Handle(ClassifyParameter(line, ParameterSource::CommandFile))) {
            return false;
        }
        if (result_.uninstalled) {
            return true;
        }
        start = end + 1;
    }
    return true;
}

bool CommandLineProcessor::Handle(const Parameter& parameter) {
    switch (parameter.kind) {
    case ParameterKind::OpenFile:
        return target_.OpenFile(parameter.text);
    case ParameterKind::Go:
        return target_.Go() != CommandTarget::GoResult::Failed;
    case ParameterKind::Quit:
        result_.endRequested = true;
        return true;
    case ParameterKind::Uninstall:
        result_.endRequested = true;
        result_.uninstalled = true;
        return target_.Uninstall();
    case ParameterKind::UpdateCount:
        target_.SetUpdateCount(true);
        return true;
    case ParameterKind::Invalid:
    case ParameterKind::CommandFile: // a "/Z=" line inside a command file
        target_.ShowMessage(
            TranslateFmt(8420, "Invalid command line parameter\r\n%s", {parameter.text}));
        return true;
    case ParameterKind::Help:
    case ParameterKind::Version: // answered before the window opens
    case ParameterKind::Ignored:
        return true;
    }
    return true;
}

std::string CommandLineHelp() {
    return R"(Usage: quillfence [OPTION]... [FILE.qfo]...
Opens the Quillfence settings wizard.  Options files named on the command line
are opened in order; when Quillfence already runs for this user, they are
opened in that window instead and this command ends at once.

  FILE.qfo, /F=FILE, --file=FILE   open an options file
  /G, --go                         Go: run with the settings shown, and wait for
                                   the run to end before the next option
  /UPDATECOUNT, --update-count     runs started from the command line save the
                                   next file number into the open options file
  /Q, --quit                       end Quillfence once the options are handled
                                   (unless one of them failed)
  /Z=FILE, --commands=FILE         read options from FILE, one per line
  /UNINSTALL, --uninstall          remove the settings Quillfence stored for
                                   this user, say what was removed, and end;
                                   mail, text files and options files stay
      --help                       show this help and end
      --version                    show the version and end

Switches starting with "/" may be abbreviated and written in any case ("/go",
"/Quit"); the "--" spellings are written in full.  An unknown switch shows
"Invalid command line parameter" and the others are still handled.

Example: open an options file, run it, keep the numbering, and end:
  quillfence /F=jobs.qfo /UPDATECOUNT /G /Q
  quillfence --file=jobs.qfo --update-count --go --quit

Exit status: 0 when the program ended normally (or the files were handed to
the running window), 2 for a usage error.  For schedulers and scripts without
a desktop, use quillfence-batch(1).
)";
}

} // namespace qf::desktop
