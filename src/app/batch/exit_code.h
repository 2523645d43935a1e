// The exit codes of quillfence-batch, the one list that its code, its --help
// text and its tests go by.
#pragma once

namespace qf::batch {

enum class ExitCode : int {
    Complete = 0,         // a run that completed, or a settings action that worked
    Failed = 1,           // any other error; its text is on standard error
    Usage = 2,            // the command line could not be read
    QuestionNeedsYes = 3, // a question before the run that only --yes can answer
    Interrupted = 130,    // a run cut short by Ctrl-C (128 + SIGINT, as shells report it)
};

// The codes as --help lists them.
inline constexpr const char* kExitCodeSummary =
    "Exit codes: 0 complete, 1 failed, 2 usage error, 3 a question needs --yes, 130 interrupted "
    "(Ctrl-C).";

constexpr int ExitStatus(ExitCode code) {
    return static_cast<int>(code);
}

} // namespace qf::batch
