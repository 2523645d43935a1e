// A run started from the command line: validation with its questions
// answered by the flags, the run itself reported on the console, and the
// exit code.
#pragma once

#include "app/batch/exit_code.h"
#include "settings/settings.h"

#include <string>

namespace qf::batch {

struct RunRequest {
    Settings settings;
    std::string optionsFile; // empty: the last-used settings from the registry
    bool answerYes = false;
    bool updateCount = false;
    std::string reportFile; // empty: no report
};

// Validates and runs; returns how the program ends.  Errors before the run
// starts (validation, an unreadable file) are thrown to the caller.  With a
// report file, a folder that cannot take it stops everything before the
// run; after the run, or after a failure before it, the report is written
// (a report that cannot be written makes a complete run a failed one).
ExitCode Run(RunRequest& request);

// Installs the language file named by the registry, as the desktop program
// does at start.
void InstallLanguageFromRegistry();

} // namespace qf::batch
