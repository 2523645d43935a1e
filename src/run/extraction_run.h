// One extraction run over the source mail folder, from logon to the final
// status text.  Build the run, then Execute() it (on any thread): it returns
// when the run is over, with nothing left running.
#pragma once

#include "mail/store.h"
#include "platform/wordproc/word_processor.h"
#include "run/attachments.h"
#include "run/filter_tool.h"
#include "run/run_context.h"
#include "settings/settings.h"

#include <memory>
#include <unordered_set>
#include <vector>

namespace qf {

class MapiSession;
class EmailMessage;

// What a run is given besides its settings and its host.
struct RunServices {
    MapiSession& session;
    // Null when no word processor is installed.
    wordproc::WordProcessor* wordProcessor = nullptr;
    // Prints a file (code 4 attachments).
    PrintFn print;
    // The registry, for the filter tool's values; no filter runs without it.
    registry::Registry* registry = nullptr;
};

// How a run ended.
enum class RunOutcome { Complete, Interrupted, Failed };

class ExtractionRun {
public:
    // Takes its own copy of the settings; nothing happens until Execute().
    ExtractionRun(Settings settings, RunHost& host, RunServices services);
    ExtractionRun(const ExtractionRun&) = delete;
    ExtractionRun& operator=(const ExtractionRun&) = delete;

    // Performs the whole run, once.  No error escapes: a failure is shown
    // through the host and gives RunOutcome::Failed.
    RunOutcome Execute();

    RunOutcome Outcome() const { return outcome_; }
    // Emails listed, and the number of the next output file.
    int Count() const { return count_; }
    std::int32_t NextFileNumber() const { return run_.fileNumber; }
    const std::vector<std::string>& FilesWritten() const { return run_.filesWritten; }

private:
    void Run();
    void LocateFolders();
    void SortEmails();
    void ProcessEmail(EmailMessage& email, int index);
    void HandBackFileNumber();
    void SaveAfterRun();

    Settings settings_;
    RunContext run_;
    RunServices services_;
    WordConversion word_;
    AttachmentHandler attachments_;
    OpenedFolderReference source_;
    OpenedFolderReference destination_;
    std::vector<std::unique_ptr<EmailMessage>> emails_;
    int count_ = 0;
    bool currentWritten_ = false;                  // the email in hand has its output file
    std::unordered_set<std::string> namesWritten_; // the output files of this run
    RunOutcome outcome_ = RunOutcome::Failed;
};

// The comparison of the run's sort orders: negative, zero or positive for
// ascending order.  Exposed for tests.
int CompareEmails(EmailMessage& a, EmailMessage& b, int sortOrder);
// Compares two texts without regard to case, in the user's locale.
int CompareTextNoCase(const std::string& a, const std::string& b);

} // namespace qf
