// The window that accompanies one run: status line, progress bar and the
// subject of the email in hand; the exceptions page, whose tab appears and
// is highlighted with the first row; one button that is Cancel while the run
// works, Close after a cancel, and OK when the run is over.
//
// It is the desktop's RunHost.  The run works on a worker thread (RunThread)
// and may call every RunHost operation from there: each change is queued to
// the window's thread and shows as soon as that thread's event loop runs;
// Cancel is an atomic flag; warnings and questions wait on the worker until
// the user has answered on the window's thread.
//
// Closing the window while its run works hides it and cancels the run; the
// window is freed once the run has returned, never under it.
//
// Once the run has ended, however it ended, "Save report..." writes the
// run's report (run/run_report.h) to a CSV file the user chooses.
#pragma once

#include "run/run_host.h"
#include "run/run_report.h"

#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace qf {
class MapiSession;
namespace registry {
class Registry;
}
} // namespace qf

namespace qf::desktop {

class MessageWindow;

// One row of the exception page: the text and the identity of its email
// (opaque identifiers; empty when the row names no stored email).
struct ExceptionEntry {
    std::string text;
    std::string emailEntryId;
    std::string storeEntryId;
};

// The boxes the window shows, replaceable so that no test waits on a modal
// dialog.  Empty members use the real message boxes.
struct StatusWindowHooks {
    std::function<void(QWidget* parent, const QString& text)> warning;
    std::function<bool(QWidget* parent, const QString& text)> askYesNo;
    std::function<void(QWidget* parent, const QString& text)> error;
    // The file the report is saved to; an empty text when the user cancels.
    std::function<QString(QWidget* parent, const QString& title, const QString& filter)>
        saveFileName;
};

class StatusWindow : public QWidget, public RunHost {
    Q_OBJECT
public:
    enum class ButtonKind { Cancel, Close, Ok };
    static constexpr int kHelpContext = 1130;
    // The report's file dialog: a plain object of the window, whose "Title"
    // and "Filter" the language walk translates.
    static constexpr const char* kReportDialog = "ReportDialog1";
    static constexpr const char* kReportTitle = "Save the run's report";
    static constexpr const char* kReportFilter = "CSV files (*.csv);;All files (*)";

    // Restores the stored placement from `reg` and saves it there on close.
    explicit StatusWindow(registry::Registry& reg, QWidget* parent = nullptr);
    explicit StatusWindow(QWidget* parent = nullptr);
    ~StatusWindow() override;

    // --- RunHost: callable from any thread ---
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
    bool Cancelled() const override { return cancelled_.load(); }
    void PumpMessages() override;
    void SetNextFileNumber(std::int32_t nextNumber) override;
    void SaveAfterRun() override;

    // --- The window's own thread ---
    void SetHooks(StatusWindowHooks hooks) { hooks_ = std::move(hooks); }
    // The session exception rows open their emails in.  Without one the
    // window logs on by itself with the parameters given here.
    void SetMailSession(MapiSession* session) { session_ = session; }
    void SetLogonParameters(std::int32_t profileMode, const std::string& profileName,
                            const std::string& password);
    // Set by RunThread while the run works on this window.
    void SetRunActive(bool active);
    bool RunActive() const { return runActive_; }

    // What a double click on exception row `row` (from 0) does: opens that
    // email in a message window, or shows why it cannot be opened.  Returns
    // the window, or nullptr.
    MessageWindow* OpenException(int row);

    // The report of the run that has ended; shows the "Save report..."
    // button.
    void SetReport(RunReport report);
    const std::optional<RunReport>& Report() const { return report_; }
    // What "Save report..." does: asks for a file and writes the report to
    // it; a failure is shown.  True when it was written.
    bool SaveReport();

    ButtonKind Kind() const { return kind_; }
    const std::vector<ExceptionEntry>& Exceptions() const { return exceptions_; }
    QPushButton* Button() const { return button_; }
    QPushButton* SaveReportButton() const { return saveReportButton_; }
    QTabWidget* Pages() const { return pages_; }
    QTableWidget* ExceptionGrid() const { return grid_; }
    QLabel* StatusLabel() const { return statusText_; }
    QLabel* SubjectLabel() const { return subject_; }
    QProgressBar* Progress() const { return progress_; }
    std::optional<std::int32_t> NextFileNumber() const { return nextNumber_; }

signals:
    // The run handed back the next free file number.
    void NextFileNumberReady(qint32 nextNumber);
    // The run asks the main window to save its open options file.
    void SaveAfterRunRequested();
    // A message window was opened from an exception row.
    void MessageWindowOpened(qf::desktop::MessageWindow* window);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildLayout();
    void ButtonClicked();
    void AddRow(const ExceptionEntry& entry);
    void SetKind(ButtonKind kind);
    void ShowWarningBox(const QString& text);
    MapiSession& Session();
    // Runs `call` on the window's thread: at once when already there, else
    // queued.
    void OnWindowThread(std::function<void()> call);
    // Runs `call` on the window's thread and waits for it; gives `fallback`
    // when the window goes away first.
    bool WaitOnWindowThread(std::function<bool()> call, bool fallback);

    registry::Registry& reg_;
    QTabWidget* pages_ = nullptr;
    QLabel* statusText_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* emailLabel_ = nullptr;
    QLabel* subject_ = nullptr;
    QTableWidget* grid_ = nullptr;
    QPushButton* button_ = nullptr;
    QPushButton* saveReportButton_ = nullptr;
    std::optional<RunReport> report_;
    ButtonKind kind_ = ButtonKind::Cancel;
    std::vector<ExceptionEntry> exceptions_;
    StatusWindowHooks hooks_;
    std::atomic<bool> cancelled_{false};
    bool runActive_ = false;
    bool closeWhenRunEnds_ = false;
    bool placementSaved_ = false;
    std::optional<std::int32_t> nextNumber_;

    MapiSession* session_ = nullptr;
    std::unique_ptr<MapiSession> ownSession_;
    std::int32_t profileMode_ = 0;
    std::string profileName_;
    std::string password_;

    // Answers the worker waits for.
    std::mutex waitMutex_;
    std::condition_variable waitDone_;
    bool abandoned_ = false;
};

} // namespace qf::desktop
