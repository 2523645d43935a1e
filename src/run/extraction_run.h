// One extraction run over the source mail folder, from logon to the final
// status text.  Build the run, then Execute() it (on any thread): it returns
// when the run is over, with nothing left running.
#pragma once

#include "common/fileio.h"
#include "mail/store.h"
#include "platform/wordproc/word_processor.h"
#include "run/attachments.h"
#include "run/email_read_ahead.h"
#include "run/filter_tool.h"
#include "run/run_context.h"
#include "run/run_record.h"
#include "settings/settings.h"

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qf {

class MapiSession;
class EmailMessage;
class EmailFields;

// What a run is given besides its settings and its host.
struct RunServices {
    MapiSession& session;
    // Null when no word processor is installed.
    wordproc::WordProcessor* wordProcessor = nullptr;
    // Prints a file (attachments whose action is AttachmentAction::Print).
    PrintFn print;
    // The registry, for the filter tool's values; no filter runs without it.
    registry::Registry* registry = nullptr;
    // Reads PDF attachments; null: the helper program beside this one.
    pdf::PdfReader* pdfReader = nullptr;
    // A batch of output files is made durable at once, and only then are its
    // emails moved, tagged or marked read: at most this many emails, or the
    // emails written within this time, whichever comes first.
    int batchEmails = 256;
    std::chrono::milliseconds batchTime{250};
    // ... or emails of this many bytes: the emails of a batch stay in memory
    // until it is committed, so this bounds the memory big emails take.
    std::size_t batchBytes = 8u << 20;
    // The emails after the one in hand are read and parsed on a thread of
    // their own, this many and this big at most (emails 0: none).
    EmailReadAhead::Limits readAhead{};
    // Told about each email once it has been read ahead, before the run comes
    // to it (in order, on the run's thread): where converting its
    // attachments ahead can start.
    EmailReadAhead::ReadHook onEmailReadAhead{};
};

// How a run ended.
enum class RunOutcome { Complete, Interrupted, Failed };

class ExtractionRun {
public:
    // Takes its own copy of the settings; nothing happens until Execute().
    ExtractionRun(Settings settings, RunHost& host, RunServices services);
    ~ExtractionRun();
    ExtractionRun(const ExtractionRun&) = delete;
    ExtractionRun& operator=(const ExtractionRun&) = delete;

    // Performs the whole run, once.  No error escapes: a failure is shown
    // through the host and gives RunOutcome::Failed.  The host gets the
    // run's report at the end, whatever the outcome.
    RunOutcome Execute();

    RunOutcome Outcome() const { return outcome_; }
    // Emails listed, and the number of the next output file.
    int Count() const { return count_; }
    std::int32_t NextFileNumber() const { return context_.FileNumber(); }
    const std::vector<std::string>& FilesWritten() const { return context_.FilesWritten(); }
    // The emails handled and how the run ended; complete once Execute()
    // has returned, whatever the outcome.
    const RunReport& Report() const { return context_.Report(); }

private:
    void Run();

    // --- Before the first email ---
    void LocateFolders();
    void SelectSourceFolder();
    // Opens the folder's store, then the folder; a failure of either is
    // replaced by the text `notFound` gives.
    static void OpenFolderOrExplain(OpenedFolderReference& folder,
                                    const std::function<std::string()>& notFound);
    void SortEmails();
    // Processes the emails in order until the last or a cancel; returns the
    // number gone through.
    int ProcessEmails();

    // --- One email, step by step ---
    // Writes the email's output file and adds the email to the batch.
    void ProcessEmail(std::unique_ptr<EmailMessage>& email, int index);
    void ShowProgress(const EmailMessage& email, int index);
    bool TaggedByEarlierRun(const EmailMessage& email) const;
    std::string NameOutputFile(EmailFields& fields) const;
    // False, with an exception row, when the name was already used by this run.
    bool NameIsNew(const EmailMessage& email, const std::string& outputFile);
    std::string ComposeText(EmailMessage& email, EmailFields& fields);
    void WriteOutputFile(const std::string& outputFile, const std::string& text);
    void MarkReadWhenAsked(EmailMessage& email);

    // --- A batch of written emails ---
    // An email whose output file is written but not yet known to be durable.
    struct Written {
        std::unique_ptr<EmailMessage> email;
        std::string outputFile;
        bool manualIntervention = false;
        bool attachmentsCut = false;
        std::optional<std::size_t> reportRow;
        std::vector<RunContext::Note> notes;
    };
    void OpenOutputFileSystems();
    bool BatchDue() const;
    // Records the next file number with the batch and starts making its files
    // durable (after the sync of the batch before has been finished).
    void StartBatchSync();
    bool SyncDone() const;
    // Waits for the batch being synced, then moves, tags or marks read its
    // emails.  A failure to make the files durable leaves every email of the
    // batch where it is.
    void FinishBatchSync();
    // Both, for the emails written so far.
    void CommitBatch();
    // Writes the email's manual-intervention notes and adds their rows.
    void WriteNotes(Written& written);
    // The rows of the notes of `batch` that will not be written (the run
    // failed first): the person who has to act hears of it all the same.
    void ReportUnwrittenNotes(std::vector<Written>& batch);
    void DisposeOfEmail(Written& written);
    void RecordDisposition(Disposition disposition);

    // --- After the last email ---
    void ReportComplete();
    void ReportInterrupted(int processed);
    void HandBackFileNumber();
    void SaveAfterRun();
    // Records the next file number and gives the output folder up.
    void ReleaseOutputFolder(std::int32_t next);

    // Built in this order; each member uses only those above it.
    Settings settings_;
    RunContext context_;
    RunServices services_;
    // Owns the document conversion that the run connects and quits.
    AttachmentHandler attachments_;
    OpenedFolderReference source_;
    OpenedFolderReference destination_;
    std::vector<std::unique_ptr<EmailMessage>> emails_;
    // While the emails are processed: reads the next ones, frees those done.
    std::unique_ptr<EmailReadAhead> readAhead_;
    RunRecord record_;
    std::vector<std::unique_ptr<FileSystemSync>> outputSyncs_;
    std::vector<Written> batch_;   // written, not yet being synced
    std::vector<Written> syncing_; // being synced
    std::int32_t syncingNext_ = 0;
    std::future<void> syncDone_;
    bool syncFailed_ = false;
    std::chrono::steady_clock::time_point batchStart_;
    std::size_t batchBytes_ = 0;
    int count_ = 0;
    bool currentWritten_ = false; // the email in hand has its output file
    RunOutcome outcome_ = RunOutcome::Failed;
};

// The comparison of the run's sort orders: negative, zero or positive for
// ascending order.  Exposed for tests.
int CompareEmails(EmailMessage& a, EmailMessage& b, int sortOrder);
// Compares two texts without regard to case, in the user's locale.
int CompareTextNoCase(const std::string& a, const std::string& b);

} // namespace qf
