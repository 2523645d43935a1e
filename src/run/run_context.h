// The state one run shares between its driver, attachment handling and
// document conversion, and the reporting operations they all use.
#pragma once

#include "common/fileio.h"
#include "run/output_names.h"
#include "run/run_host.h"
#include "run/run_report.h"
#include "settings/settings.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qf {

class EmailMessage;

class RunContext {
public:
    RunContext(const Settings& settings, RunHost& host) : settings_(settings), host_(host) {}
    // Deletes the attachment copies still there.
    ~RunContext();
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    const Settings& RunSettings() const { return settings_; }
    RunHost& Host() { return host_; }

    // --- The output files ---
    // Number of the next output file.
    std::int32_t FileNumber() const { return fileNumber_; }
    void SetFileNumber(std::int32_t number) { fileNumber_ = number; }
    // Every output file written by this run, in order.
    const std::vector<std::string>& FilesWritten() const { return filesWritten_; }
    // True when writing `path` would replace one of FilesWritten(): names are
    // compared the way the output folder's file system compares them.
    bool WasWritten(const std::string& path) const { return namesWritten_.Contains(path); }
    // Counts the output file of the email in hand: it joins FilesWritten()
    // and the next email gets the next number.
    void CountFileWritten(const std::string& path);
    // Attachment copies made for conversion.  They are deleted however the
    // run ends: completed, cancelled or failed (at the latest with the context).
    void AddTempFile(const std::string& path) { tempFiles_.push_back(path); }
    void DeleteTempFiles();
    // How the copies in the manual folder are written: Deferred when the
    // run's batch sync covers that folder's file system (the copy is durable
    // before its email's note says where it is), else Immediate.
    Durability ManualCopyDurability() const { return manualCopyDurability_; }
    void SetManualCopyDurability(Durability d) { manualCopyDurability_ = d; }

    // --- The email in hand ---
    // Clears the email's flags before it is processed.
    void BeginEmail();
    // Set when an attachment of the email in hand needs a person; keeps the
    // email from being moved or tagged.
    bool ManualIntervention() const { return manualIntervention_; }
    void FlagManualIntervention() { manualIntervention_ = true; }
    // Set when a cancel stopped the email in hand before all its attachments
    // were handled: its output is incomplete, so it is not moved or tagged.
    bool AttachmentsCut() const { return attachmentsCut_; }
    void FlagAttachmentsCut() { attachmentsCut_ = true; }
    // A manual-intervention note for the stored email in hand, and the
    // exception row that tells of it.  The note is written into the email
    // with its batch, once the output file is durable; the row is added
    // then, with the reason when the note could not be written.
    struct Note {
        std::string text;
        std::string row;
    };
    void AddNote(Note note) { notes_.push_back(std::move(note)); }
    std::size_t NoteCount() const { return notes_.size(); }
    // The notes of the email in hand, handed over (none are left).
    std::vector<Note> TakeNotes() { return std::exchange(notes_, {}); }

    // --- The run's report: a row per email handled, and the run's ending ---
    RunReport& Report() { return report_; }
    const RunReport& Report() const { return report_; }

    // --- Reporting: each shows its change at once and then lets the host pump ---
    void SetStatus(const std::string& text);
    void SetProgress(int percent, const std::string& subject);
    // A row of the exception list; `email` (may be null) is remembered so the
    // row can open it later.  The row also goes into the report.
    void AddException(const std::string& text, const EmailMessage* email);
    void ShowWarning(const std::string& text);
    bool Cancelled() const { return host_.Cancelled(); }
    void Pump() { host_.PumpMessages(); }

private:
    const Settings& settings_;
    RunHost& host_;
    std::int32_t fileNumber_ = 0;
    std::vector<std::string> filesWritten_;
    WrittenNames namesWritten_;
    std::vector<std::string> tempFiles_;
    Durability manualCopyDurability_ = Durability::Immediate;
    bool manualIntervention_ = false;
    bool attachmentsCut_ = false;
    std::vector<Note> notes_;
    RunReport report_;
};

} // namespace qf
