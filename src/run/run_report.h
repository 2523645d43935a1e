// The record of one run for the people and programs that take its files
// over: a row for each email handled (its output file, sender, subject,
// delivery time, what was done with it and with each attachment, and its
// exception rows), and how the run ended.  Saved as CSV for an applicant
// database or a spreadsheet to import.
#pragma once

#include "common/date_time.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qf {

// What became of an email in its folder.
enum class Disposition {
    NotDisposed, // held back: it needs a person, or its output is incomplete
    Left,        // left where it was, as asked
    Moved,       // moved to the destination folder
    Tagged,      // its subject tagged
};

// What became of an attachment, as the run decided by its extension.
enum class AttachmentOutcome {
    Converted,      // its text from the word processor is in the output
    IncludedAsText, // its bytes are in the output as text
    Flagged,        // flagged for manual handling; a marker is in the output
    Printed,        // a copy saved in the manual folder and printed
    PrintFailed,    // a copy saved in the manual folder; printing failed
    Saved,          // a copy saved in the manual folder for manual handling
    Ignored,        // left out
    NotConverted,   // the word processor gave no text; a person must see to it
    Failed,         // handling it failed; a person must see to it
};

struct AttachmentRecord {
    // The attachment's file name; one inside an embedded email is preceded
    // by the names of the attachments that hold it ("forward.eml / cv.doc").
    std::string name;
    AttachmentOutcome outcome = AttachmentOutcome::Ignored;
    std::string copy; // full path of the copy saved in the manual folder, if any
};

struct EmailRecord {
    std::string outputFile; // full path; empty until the output file is written
    std::string sender;
    std::string subject; // as it was before any tag
    std::optional<DateTime> delivered;
    Disposition disposition = Disposition::NotDisposed;
    bool markedRead = false;
    std::vector<AttachmentRecord> attachments;
    std::vector<std::string> exceptions;
};

enum class RunEnding { Unfinished, Complete, Cancelled, Failed };

class RunReport {
public:
    // The column titles of the CSV file, in order.
    static const std::vector<std::string>& Columns();

    // --- The email in hand ---
    // Opens the row of the next email (closing one left open).
    void BeginEmail(std::string sender, std::string subject, std::optional<DateTime> delivered);
    // The row of the email in hand; null between emails.
    EmailRecord* Current();
    void EndEmail() { current_.reset(); }
    // The row of an email handled earlier becomes the one in hand again (an
    // email is moved or tagged only once its batch of files is durable);
    // nullopt: none.
    std::optional<std::size_t> CurrentRow() const { return current_; }
    void SetCurrentRow(std::optional<std::size_t> row);
    // The email in hand's output file, made a full path: the report is
    // read from other folders than the run's.
    void SetOutputFile(const std::string& path);
    // Adds an attachment of the email in hand (nothing between emails),
    // named inside the embedded emails entered; `copy` is made a full path.
    void AddAttachment(const std::string& fileName, AttachmentOutcome outcome,
                       const std::string& copy = {});
    std::size_t AttachmentCount() const;
    // The attachments of embedded email `name` follow until LeaveEmbedded.
    void EnterEmbedded(const std::string& name) { embedded_.push_back(name); }
    void LeaveEmbedded();
    // An exception row: the email in hand's, or the run's between emails.
    void AddException(const std::string& text);
    std::size_t ExceptionCount() const;

    // --- The run ---
    // How the run ended, its final message, and when (local time).  The
    // last call counts: a failure after the end replaces it.
    void End(RunEnding ending, std::string message, std::optional<DateTime> at);
    const std::vector<EmailRecord>& Emails() const { return emails_; }
    RunEnding Ending() const { return ending_; }
    const std::string& EndingMessage() const { return endingMessage_; }
    const std::vector<std::string>& RunExceptions() const { return runExceptions_; }

    // The CSV file: the header, a record per email, and a last record for
    // the run.  Times are written with the offset `utcOffsetSeconds`.
    std::string ToCsv(long utcOffsetSeconds) const;
    // ToCsv with the local offset, written to `path` through a temporary file
    // made durable and renamed into place.  Throws FileError.
    void Save(const std::string& path) const;

private:
    std::vector<std::string> EmailFields(const EmailRecord& email, long utcOffsetSeconds) const;
    std::vector<std::string> RunFields(long utcOffsetSeconds) const;

    std::vector<EmailRecord> emails_;
    std::optional<std::size_t> current_;
    std::vector<std::string> embedded_;
    std::vector<std::string> runExceptions_;
    RunEnding ending_ = RunEnding::Unfinished;
    std::string endingMessage_;
    std::optional<DateTime> endedAt_;
};

// A local date-time in ISO 8601 with its offset from UTC, to the second
// ("2026-12-01T11:00:00+01:00"); empty for a time not after 30 December
// 1899 or past the year 9999.
std::string IsoDateTime(DateTime local, long utcOffsetSeconds);

// The time now as a local date-time.
DateTime LocalNow();

// The words the CSV file uses for a disposition, an attachment's outcome and
// a run's ending.
const char* DispositionWord(Disposition disposition);
const char* OutcomeWords(AttachmentOutcome outcome);
const char* EndingWord(RunEnding ending);

} // namespace qf
