// A plain run window: status line, progress, subject, exception rows and a
// Cancel button that becomes OK when the run is over.  It takes the run's
// calls from the worker thread and queues them to the UI thread.  The
// program uses it until the full status window is plugged in.
#pragma once

#include "run/run_host.h"

#include <QDialog>
#include <atomic>
#include <functional>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace qf::desktop {

class BasicRunWindow : public QDialog, public RunHost {
    Q_OBJECT
public:
    explicit BasicRunWindow(QWidget* parent = nullptr);

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
    bool Cancelled() const override { return cancelled_; }
    void PumpMessages() override {}
    void SetNextFileNumber(std::int32_t) override {}
    void SaveAfterRun() override {}

private:
    void Queue(std::function<void()> work);
    void Wait(const std::function<void()>& work);

    QLabel* status_;
    QLabel* subject_;
    QProgressBar* progress_;
    QListWidget* exceptions_;
    QPushButton* button_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
};

} // namespace qf::desktop
