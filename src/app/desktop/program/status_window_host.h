// The run's host in the desktop program: a status window of its own for each
// run.  The main window's model owns this link for as long as it keeps the
// run; the status window owns itself (it closes when the user says so) but
// is never freed while its run works.
#pragma once

#include "run/run_host.h"

#include <QPointer>

namespace qf {
class Settings;
}

namespace qf::desktop {

class StatusWindow;

class StatusWindowHost : public RunHost {
public:
    // Opens a new status window.  Its exception rows open their emails
    // through a session of the window's own, logged on with `logon`'s profile
    // (the run works on the main window's session on another thread; a
    // session is never used from two threads).  UI thread only.
    explicit StatusWindowHost(const Settings& logon);
    // Lets the window close (and free itself) when the user asks.
    ~StatusWindowHost() override;
    StatusWindowHost(const StatusWindowHost&) = delete;
    StatusWindowHost& operator=(const StatusWindowHost&) = delete;

    // The run has returned: from now on the window is the user's alone.
    // UI thread only.
    void RunReturned();
    StatusWindow* Window() const { return window_; }

    // RunHost, from the run's worker thread.  The window stays allocated
    // until RunReturned, so these never reach a freed window.
    void Show() override;
    void SetStatusText(const std::string& text) override;
    void SetProgressValue(int percent) override;
    void SetSubject(const std::string& subject) override;
    void AddExceptionRow(const std::string& text, const std::string& emailEntryId,
                         const std::string& storeEntryId) override;
    void Finish() override;
    void ReportReady(const RunReport& report) override;
    void ShowWarning(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void ShowError(const std::string& text) override;
    bool Cancelled() const override;
    void PumpMessages() override;
    void SetNextFileNumber(std::int32_t nextNumber) override;
    void SaveAfterRun() override;

private:
    StatusWindow* window_;
    bool returned_ = false;
};

} // namespace qf::desktop
