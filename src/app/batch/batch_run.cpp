#include "app/batch/batch_run.h"

#include "app/batch/console_host.h"
#include "common/error.h"
#include "i18n/loadstrings.h"
#include "i18n/translate.h"
#include "mail/session.h"
#include "platform/registry/registry.h"
#include "platform/shell/shell.h"
#include "platform/wordproc/libreoffice.h"
#include "platform/wordproc/office_process.h"
#include "run/extraction_run.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace qf::batch {

void InstallLanguageFromRegistry() {
    std::string language = "English";
    registry::Registry& reg = registry::Current();
    // The language is read only once the settings key exists (a first start
    // keeps English).
    if (reg.KeyExists(kSettingsKey)) {
        auto value = reg.GetValue(kSettingsKey, "language");
        if (value && value->kind == registry::ValueKind::String && !value->text.empty()) {
            language = value->text;
        }
    }
    InstallLanguage(language);
    if (const std::string& why = GetStringLoader().ReadError(); !why.empty()) {
        std::fprintf(stderr, "quillfence-batch: Warning: %s\n", why.c_str());
    }
}

namespace {

// Keeps the next file number for the next run: in the options file when asked
// (--update-count), and always in the last-used settings when the run used
// them, as closing the desktop program would.
std::function<void(std::int32_t)> NumberSaver(const RunRequest& request) {
    if (!request.optionsFile.empty()) {
        if (!request.updateCount) {
            return {};
        }
        Settings saved = request.settings;
        std::string path = request.optionsFile;
        return [saved, path](std::int32_t next) mutable {
            saved.firstNumber = next;
            saved.SaveToFile(path);
        };
    }
    return [](std::int32_t next) {
        registry::RegistryKey key(registry::Current());
        if (key.OpenKey(kSettingsKey, true)) {
            key.WriteInteger("First number", next);
            key.CloseKey();
        }
    };
}

// Validates the settings as the desktop program does before a run, its
// questions answered by the host; nullopt when the run may start.
std::optional<ExitCode> RefuseInvalidSettings(Settings& settings, ConsoleHost& host) {
    ValidationHooks hooks;
    hooks.askYesNo = [&host](const std::string& question) { return host.AskYesNo(question); };
    hooks.shellOpen = [](const std::string& address) {
        try {
            ShellOpen(address);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "Warning: %s\n", e.what());
        }
    };
    hooks.recordedNextNumber = RecordedNextNumber;
    if (settings.Validate(hooks)) {
        return std::nullopt;
    }
    if (!host.RefusedQuestions().empty()) {
        // Every question that needed an answer, so one --yes settles them all.
        for (const std::string& question : host.RefusedQuestions()) {
            std::fprintf(stderr, "quillfence-batch: %s\n", question.c_str());
        }
        std::fprintf(stderr, "%s\n",
                     TranslateMsg(8721, "No run was started: pass --yes to answer Yes.").c_str());
        return ExitCode::QuestionNeedsYes;
    }
    return ExitCode::Failed;
}

// Stops before the run when the report's folder cannot take the file: a run
// whose report is lost after its emails were moved cannot be told again.
void CheckReportFolder(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    struct stat st {};
    const bool folderOk = ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                          ::access(folder.c_str(), W_OK | X_OK) == 0;
    const bool pathIsFolder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!folderOk || pathIsFolder) {
        throw Error(TranslateFmt(8745,
                                 "The report file %s cannot be written: its folder does not exist "
                                 "or may not be written to.",
                                 {path}));
    }
}

// Writes the report when one was asked for; false, with the reason on
// standard error, when it could not be written.
bool SaveReport(const std::string& path, const RunReport& report) {
    if (path.empty()) {
        return true;
    }
    try {
        report.Save(path);
        return true;
    } catch (const std::exception& e) {
        std::fprintf(
            stderr, "quillfence-batch: %s\n",
            TranslateFmt(8746, "The run's report could not be written: %s", {e.what()}).c_str());
        return false;
    }
}

// The report of a run that never started: no emails, and why.
void SaveReportOfNoRun(const std::string& path, const std::string& why) {
    RunReport report;
    report.End(RunEnding::Failed, why, LocalNow());
    SaveReport(path, report);
}

ExitCode ExitCodeOf(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Complete:
        return ExitCode::Complete;
    case RunOutcome::Interrupted:
        return ExitCode::Interrupted;
    case RunOutcome::Failed:
        break;
    }
    return ExitCode::Failed;
}

ExitCode RunAndReport(RunRequest& request) {
    ConsoleHost::Options options;
    options.answerYes = request.answerYes;
    options.interactive = ::isatty(STDOUT_FILENO) == 1;
    options.saveNextNumber = NumberSaver(request);
    options.keepEachBatch = request.optionsFile.empty();
    ConsoleHost host(options);
    host.CatchInterrupts();
    // An office instance the run started must not outlive a forced exit.
    ConsoleHost::SetForcedExitCleanup(&wordproc::KillStartedOffices);

    if (const auto refused = RefuseInvalidSettings(request.settings, host)) {
        std::string why;
        for (const std::string& question : host.RefusedQuestions()) {
            why += question + "\n";
        }
        SaveReportOfNoRun(request.reportFile,
                          why +
                              TranslateMsg(8721, "No run was started: pass --yes to answer Yes."));
        return *refused;
    }
    if (request.settings.profile == Settings::kPromptProfile) {
        // Nobody is there to pick a profile from a list.
        throw Error(TranslateMsg(
            8720, "The settings ask for the logon profile to be chosen at each run "
                  "(\"Prompt\"), which only the desktop program can do. Choose the default "
                  "profile or a named one for runs from the command line."));
    }
    MapiSession session;
    session.SetLogonParameters(request.settings.profile, request.settings.profileName,
                               request.settings.password);

    std::unique_ptr<wordproc::WordProcessor> wordProcessor;
    if (request.settings.includeAttachments) {
        wordProcessor = std::make_unique<wordproc::LibreOffice>(
            wordproc::LibreOfficeOptions::FromEnvironment());
    }
    RunServices services{session, wordProcessor.get(),
                         [](const std::string& path) { return ShellPrint(path); },
                         &registry::Current()};
    // Emails per durable batch; smaller batches cost more syncs (the
    // crash-safety tests use them to have several batches in a small mailbox).
    if (const char* batch = std::getenv("QUILLFENCE_BATCH_EMAILS")) {
        const long n = std::strtol(batch, nullptr, 10);
        if (n > 0 && n <= 1 << 20) {
            services.batchEmails = static_cast<int>(n);
        }
    }

    ExtractionRun run(request.settings, host, services);
    run.Execute();
    wordProcessor.reset(); // an instance the run started is gone before we report
    const bool reported = SaveReport(request.reportFile, run.Report());

    if (!host.Exceptions().empty()) {
        const auto count = static_cast<std::int64_t>(host.Exceptions().size());
        std::printf(
            "%s\n",
            TranslateFmt(8722, "%d exception(s): the emails named above need a person.", {count})
                .c_str());
    }
    const ExitCode code = ExitCodeOf(run.Outcome());
    return !reported && code == ExitCode::Complete ? ExitCode::Failed : code;
}

} // namespace

ExitCode Run(RunRequest& request) {
    if (!request.reportFile.empty()) {
        CheckReportFolder(request.reportFile);
    }
    try {
        return RunAndReport(request);
    } catch (const std::exception& e) {
        SaveReportOfNoRun(request.reportFile, e.what());
        throw;
    }
}

} // namespace qf::batch
