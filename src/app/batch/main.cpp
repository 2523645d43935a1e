// quillfence-batch: the headless front end for terminals and schedulers.  Its
// exit codes are listed in app/batch/exit_code.h.
#include "app/batch/batch_run.h"
#include "app/batch/exit_code.h"
#include "app/batch/settings_text.h"
#include "common/error.h"
#include "common/installation.h"
#include "platform/registry/registry.h"
#include "settings/settings.h"

#include <CLI/CLI.hpp>
#include <clocale>
#include <iostream>
#include <memory>

namespace {

using qf::batch::ExitCode;
using qf::batch::ExitStatus;

// What the command line asked for: the settings printed, saved as an options
// file, or a run (the default), each done by one function below.
struct Request {
    bool printSettings = false;
    std::string printFrom;           // options file, or "" for the registry
    std::vector<std::string> saveAs; // OUT [FILE]
    std::string runFrom;             // options file of a run, or "" for the registry
    bool answerYes = false;
    bool updateCount = false;
    std::string reportFile; // --report: the run's report as CSV
};

// The registry as the desktop program sees it.  Looking at the settings opens
// it without writing back, so that it cannot change what the next start finds.
void OpenRegistry(qf::registry::FileRegistry::Mode mode) {
    auto reg =
        std::make_shared<qf::registry::FileRegistry>(qf::registry::DefaultRegistryPath(), mode);
    for (const auto& w : reg->Warnings()) {
        std::cerr << "quillfence-batch: registry " << reg->Path() << ": " << w << "\n";
    }
    qf::registry::SetCurrent(std::move(reg));
}

// The effective settings: from an options file, or as the desktop program
// loads them at start (a blank record filled from the registry).
qf::Settings LoadSettings(const std::string& optionsFile) {
    qf::Settings s;
    s.LoadFromRegistry();
    if (!optionsFile.empty()) {
        s.LoadFromFile(optionsFile);
    }
    return s;
}

ExitCode PrintSettings(const Request& req) {
    std::cout << qf::batch::DescribeSettings(LoadSettings(req.printFrom));
    return ExitCode::Complete;
}

ExitCode SaveAs(const Request& req) {
    qf::Settings s = LoadSettings(req.saveAs.size() > 1 ? req.saveAs[1] : std::string());
    s.SaveToFile(req.saveAs[0]);
    return ExitCode::Complete;
}

ExitCode RunExtraction(const Request& req) {
    qf::batch::RunRequest run;
    run.settings = LoadSettings(req.runFrom);
    run.optionsFile = req.runFrom;
    run.answerYes = req.answerYes;
    run.updateCount = req.updateCount;
    run.reportFile = req.reportFile;
    return qf::batch::Run(run);
}

// Dates in the email header ("%SENT") take the user's short date and long
// time formats, and subjects sort in the user's collation.  Texts are UTF-8
// throughout, so a locale whose characters are not UTF-8 keeps its formats
// but reads characters as UTF-8.
void UseUsersLocale() {
    std::setlocale(LC_ALL, "");
    const char* ctype = std::setlocale(LC_CTYPE, nullptr);
    const std::string name = ctype ? ctype : "";
    if (name.find("UTF-8") == std::string::npos && name.find("utf8") == std::string::npos) {
        std::setlocale(LC_CTYPE, "C.UTF-8");
    }
}

// Declares the options into `req`; returns --print-settings, whose presence
// (it may come without a value) is read after parsing.
// What --help says after the options: the files, the environment and a
// scheduled run.
constexpr const char* kFilesAndExamples =
    "\n"
    "Files: ~/.config/Brindlemox/registry.reg (last-used settings, next file number), "
    "~/.config/Brindlemox/profiles.ini (logon profiles; default: the Maildir ~/Maildir), "
    "~/.cache/quillfence/ (the document converter's profiles).\n"
    "Environment: QUILLFENCE_REGISTRY, QUILLFENCE_PROFILES (other files), "
    "QUILLFENCE_OFFICE_DEADLINE (seconds per document), XDG_CONFIG_HOME, XDG_CACHE_HOME.\n\n"
    "Example, every weekday at 7:00 from cron:\n"
    "  0 7 * * 1-5  quillfence-batch --yes --update-count --report /home/ann/run.csv "
    "/home/ann/jobs.qfo\n"
    "A systemd timer that does the same: man quillfence-batch.";

CLI::Option* DeclareOptions(CLI::App& app, Request& req) {
    app.set_version_flag("--version", std::string(qf::kProductTitle) + " " + qf::kProductVersion);
    auto* print = app.add_option("--print-settings", req.printFrom,
                                 "Print the effective settings, one field per line, from the "
                                 "options file FILE or else from the last-used settings")
                      ->expected(0, 1)
                      ->type_name("[FILE]");
    auto* save = app.add_option("--save-as", req.saveAs,
                                "Write the settings of the options file FILE (or the last-used "
                                "settings) to the options file OUT")
                     ->expected(1, 2)
                     ->type_name("OUT [FILE]");
    auto* file = app.add_option("FILE", req.runFrom,
                                "Run with the settings of this options file (.qfo); without it, "
                                "with the last-used settings")
                     ->type_name("FILE");
    auto* yes = app.add_flag("--yes", req.answerYes,
                             "Answer Yes to the questions asked before a run (an existing first "
                             "output file, a filter tool that is not installed)");
    auto* update = app.add_flag("--update-count", req.updateCount,
                                "After the run, save the next file number into FILE");
    auto* report = app.add_option("--report", req.reportFile,
                                  "Write the run's report to the CSV file REPORT: a row for each "
                                  "email handled (output file, sender, subject, delivery time, "
                                  "disposition, attachments, exceptions) and a last row for how "
                                  "the run ended; written also after a cancel or a failure")
                       ->type_name("REPORT");
    print->excludes(save);
    for (auto* runOption : {file, yes, update, report}) {
        runOption->excludes(print)->excludes(save);
    }
    update->needs(file);
    app.footer(std::string("Without --print-settings or --save-as, runs the extraction: every "
                           "email of the source folder becomes a numbered text file.\n") +
               qf::batch::kExitCodeSummary + kFilesAndExamples);
    return print;
}

// Does what the parsed command line asks for.
ExitCode Perform(const Request& req) {
    // Looking at settings never writes the registry; a run may (the next
    // file number, the filter tool's values).
    const bool runs = !req.printSettings && req.saveAs.empty();
    OpenRegistry(runs ? qf::registry::FileRegistry::Mode::ReadWrite
                      : qf::registry::FileRegistry::Mode::ReadOnly);
    qf::batch::InstallLanguageFromRegistry();
    if (req.printSettings) {
        return PrintSettings(req);
    }
    if (!req.saveAs.empty()) {
        return SaveAs(req);
    }
    return RunExtraction(req);
}

} // namespace

int main(int argc, char** argv) {
    UseUsersLocale();
    CLI::App app{"Turns the emails waiting in a mail folder into numbered plain-text files.",
                 "quillfence-batch"};
    Request req;
    CLI::Option* print = DeclareOptions(app, req);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return ExitStatus(app.exit(e) == 0 ? ExitCode::Complete : ExitCode::Usage);
    }
    req.printSettings = print->count() > 0;

    try {
        return ExitStatus(Perform(req));
    } catch (const std::exception& e) {
        std::cerr << "quillfence-batch: " << e.what() << "\n";
        return ExitStatus(ExitCode::Failed);
    }
}
