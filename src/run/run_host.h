// What a run needs from the program that hosts it.  The desktop status window
// (with the main window behind it) and the console of the batch front end
// both implement it; the run never sees which one it talks to.
#pragma once

#include <cstdint>
#include <string>

namespace qf {

class RunReport;

class RunHost {
public:
    virtual ~RunHost() = default;

    // --- The status display ---
    // Makes the display visible and brings it to the front.
    virtual void Show() = 0;
    // The status line; shown at once.
    virtual void SetStatusText(const std::string& text) = 0;
    // The progress, 0 to 100; shown at once.
    virtual void SetProgressValue(int percent) = 0;
    // The subject of the email in hand.
    virtual void SetSubject(const std::string& subject) = 0;
    // A row of the exception list: an email that needs manual intervention.
    // `emailEntryId` is the email's opaque entry identifier and
    // `storeEntryId` that of its store, kept so that the row can open the
    // email after the run has released it; either may be empty.
    virtual void AddExceptionRow(const std::string& text, const std::string& emailEntryId,
                                 const std::string& storeEntryId) = 0;
    // The run is over: the Cancel button becomes OK.  Not called after a
    // failure.
    virtual void Finish() = 0;
    // The run's report, handed over once the run is over however it ended
    // (complete, cancelled or failed); a host that offers it keeps a copy.
    virtual void ReportReady(const RunReport& /*report*/) {}

    // --- Talking to the user ---
    // A warning with a single OK; returns when the user has confirmed it.
    virtual void ShowWarning(const std::string& text) = 0;
    // A Yes/No question; true for Yes.  A host that cannot ask (a scheduled
    // batch run) answers as it was told to, or throws to stop the run.
    virtual bool AskYesNo(const std::string& text) = 0;
    // The error that ended a run, in an error box titled "Application Error".
    virtual void ShowError(const std::string& text) = 0;

    // --- Cancel and responsiveness ---
    // True once the user asked to cancel (the Cancel button, Ctrl-C).
    virtual bool Cancelled() const = 0;
    // Lets the host handle what is pending (window events, signals), so the
    // user can cancel; called often and must return quickly.
    virtual void PumpMessages() = 0;

    // --- Hand-over to the main window ---
    // The next free file number, handed back after a run that wrote files.
    virtual void SetNextFileNumber(std::int32_t nextNumber) = 0;
    // Saves the open options file when the update-count flag asks for it.
    virtual void SaveAfterRun() = 0;
    // The next free file number once a batch of output files is durable (and
    // before their emails are moved or tagged): a host that keeps the number
    // in the last-used settings saves it here, so that a crash cannot hand
    // the numbers of those files out again.
    virtual void KeepNextFileNumber(std::int32_t /*nextNumber*/) {}
};

} // namespace qf
