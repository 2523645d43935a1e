// The batch front end's run host: status texts and a progress bar on a
// terminal (plain lines otherwise), exception rows, warnings on standard
// error, questions answered by the command line, Ctrl-C as Cancel.
#pragma once

#include "run/run_host.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qf {

class ConsoleHost : public RunHost {
public:
    struct Options {
        bool answerYes = false;   // --yes
        bool interactive = false; // a terminal: draw the progress bar in place
        std::FILE* out = stdout;
        std::FILE* err = stderr;
        // Called by SaveAfterRun with the next file number (--update-count).
        std::function<void(std::int32_t)> saveNextNumber;
        // Also saves it after each durable batch of output files (the
        // last-used settings, which a crash would otherwise leave behind).
        bool keepEachBatch = false;
    };

    explicit ConsoleHost(Options options);
    ~ConsoleHost() override;

    void Show() override;
    void SetStatusText(const std::string& text) override;
    void SetProgressValue(int percent) override;
    void SetSubject(const std::string& subject) override;
    void AddExceptionRow(const std::string& text, const std::string& emailEntryId,
                         const std::string& storeEntryId) override;
    void Finish() override;
    void ShowWarning(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void ShowError(const std::string& text) override;
    bool Cancelled() const override;
    void PumpMessages() override {}
    void SetNextFileNumber(std::int32_t nextNumber) override;
    void SaveAfterRun() override;
    void KeepNextFileNumber(std::int32_t nextNumber) override;

    // Makes Ctrl-C (SIGINT) and SIGTERM set the cancelled flag while this host
    // lives; a second Ctrl-C ends the program at once.
    void CatchInterrupts();
    // For tests and the question hooks: sets the cancelled flag.
    static void RequestCancel();
    // Called (from the signal handler, so it must be async-signal-safe) when a
    // second Ctrl-C ends the program at once.
    static void SetForcedExitCleanup(void (*cleanup)());

    const std::vector<std::string>& Exceptions() const { return exceptions_; }
    const std::optional<std::string>& Error() const { return error_; }
    // The questions that could not be answered (no --yes), in the order asked,
    // as the console shows them.
    const std::vector<std::string>& RefusedQuestions() const { return refusedQuestions_; }
    std::optional<std::int32_t> NextFileNumber() const { return nextNumber_; }

private:
    void DrawProgress();
    void EndProgressLine();

    Options options_;
    std::string status_;
    std::string subject_;
    int percent_ = -1;
    bool progressLineOpen_ = false;
    std::vector<std::string> exceptions_;
    std::optional<std::string> error_;
    std::vector<std::string> refusedQuestions_;
    std::optional<std::int32_t> nextNumber_;
    bool catching_ = false;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

} // namespace qf
