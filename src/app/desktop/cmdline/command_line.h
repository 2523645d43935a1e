// The desktop program's command line: which switch each parameter is, and
// the processing that feeds them to the main window in order.
//
// Switches are compared ignoring case and by prefix, tested in this order:
//   /Z=path       a command file: each non-empty line is one parameter
//   /F=path       open an options file
//   /G            Go
//   /Q            end the program once the parameters are handled
//   /UNINSTALL    remove what the program stored for this user, then end
//                 (the parameters after it are not handled)
//   /UPDATECOUNT  runs started from here save the next file number
// The same switches have a Linux spelling, matched exactly: --commands=path,
// --file=path (or --file path), --go, --quit, --uninstall, --update-count.
// Any other text starting with "/" or "-" is an invalid parameter.  An
// absolute path ("/" followed by a folder) and, on the process's own command
// line, any other plain text name an options file to open, as a file manager
// passes it; in a command file plain text is ignored.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qf::desktop {

// Longest path taken from a parameter or an execute text.
inline constexpr std::size_t kMaxParameterPath = 4096;

enum class ParameterKind {
    CommandFile,
    OpenFile,
    Go,
    Quit,
    Uninstall,
    UpdateCount,
    Help,
    Version,
    Invalid,
    Ignored
};

// Where a parameter comes from: the process's own command line or a line of
// a command file (no nested command files, no plain file names).
enum class ParameterSource { CommandLine, CommandFile };

struct Parameter {
    ParameterKind kind = ParameterKind::Ignored;
    // The path of CommandFile and OpenFile in the case typed; the text as
    // typed for Invalid.
    std::string text;
    bool operator==(const Parameter&) const = default;
};

Parameter ClassifyParameter(const std::string& text, ParameterSource source);

// Joins a "--file" or "--commands" given as two words into one parameter.
std::vector<std::string> JoinSwitchValues(const std::vector<std::string>& args);

// What the parameters ask of the main window.  Each call reports whether the
// processing may go on; a failure has already been shown to the person.
class CommandTarget {
public:
    enum class GoResult { Finished, Declined, Failed };

    virtual ~CommandTarget() = default;
    virtual bool OpenFile(const std::string& path) = 0;
    // Starts a run and returns once it has ended.  Declined: a validation
    // question was answered No (no error).  Failed: an error was shown.
    virtual GoResult Go() = 0;
    virtual bool Uninstall() = 0;
    virtual void SetUpdateCount(bool on) = 0;
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void ShowError(const std::string& text) = 0;
};

struct CommandLineResult {
    // False when an error stopped the processing: the window stays open and
    // the rest of the start-up steps are skipped.
    bool completed = true;
    // "/Q" or "/UNINSTALL" asked the program to end.
    bool endRequested = false;
    // "/UNINSTALL" ran: nothing may be written back for this user.
    bool uninstalled = false;
};

class CommandLineProcessor {
public:
    explicit CommandLineProcessor(CommandTarget& target) : target_(target) {}

    // The process's parameters, without the program name.
    CommandLineResult Process(const std::vector<std::string>& params);

private:
    bool HandleCommandFile(const std::string& path);
    bool Handle(const Parameter& parameter);

    CommandTarget& target_;
    CommandLineResult result_;
};

// The "--help" text.
std::string CommandLineHelp();

} // namespace qf::desktop
