#include "app/desktop/wizard/run_job.h"

#include "common/error.h"
#include "platform/shell/shell.h"

#include <chrono>

namespace qf::desktop {

// The host the run talks to: the run window for everything it shows, the
// main window (on the UI thread) for what it hands back.  The window's
// PumpMessages is not called: the worker has no events to pump, and the UI
// thread's event loop runs all along.
class RunJob::RelayHost : public RunHost {
public:
    explicit RelayHost(RunJob& job) : job_(job), window_(job.window_) {}

    void Show() override { window_.Show(); }
    void SetStatusText(const std::string& text) override { window_.SetStatusText(text); }
    void SetProgressValue(int percent) override { window_.SetProgressValue(percent); }
    void SetSubject(const std::string& subject) override { window_.SetSubject(subject); }
    void AddExceptionRow(const std::string& text, const std::string& emailEntryId,
                         const std::string& storeEntryId) override {
        window_.AddExceptionRow(text, emailEntryId, storeEntryId);
    }
    void Finish() override { window_.Finish(); }
    void ReportReady(const RunReport& report) override { window_.ReportReady(report); }
    void ShowWarning(const std::string& text) override { window_.ShowWarning(text); }
    bool AskYesNo(const std::string& text) override { return window_.AskYesNo(text); }
    void ShowError(const std::string& text) override { window_.ShowError(text); }
    bool Cancelled() const override {
        return job_.cancelled_ || job_.closing_ || window_.Cancelled();
    }
    void PumpMessages() override {}

    void SetNextFileNumber(std::int32_t nextNumber) override {
        if (job_.closing_ || !job_.handBack_.setNextFileNumber) {
            return;
        }
        job_.ui_.Call([&] { job_.handBack_.setNextFileNumber(nextNumber); });
    }
    void SaveAfterRun() override {
        if (job_.closing_ || !job_.handBack_.saveAfterRun) {
            return;
        }
        std::string failure;
        job_.ui_.Call([&] {
            try {
                job_.handBack_.saveAfterRun();
            } catch (const std::exception& e) {
                failure = e.what();
            }
        });
        if (!failure.empty()) {
            throw Error(failure);
        }
    }

private:
    RunJob& job_;
    RunHost& window_;
};

RunJob::RunJob(Settings settings, RunHost& window, MapiSession& session,
               std::unique_ptr<wordproc::WordProcessor> wordProcessor, registry::Registry& reg,
               UiThread& ui, RunHandBack handBack)
    : settings_(std::move(settings)), window_(window), session_(session),
      wordProcessor_(std::move(wordProcessor)), reg_(reg), ui_(ui), handBack_(std::move(handBack)) {
}

RunJob::~RunJob() {
    if (!worker_.joinable()) {
        return;
    }
    // From here on the run hands nothing back: whoever destroys the job is
    // going away.  Events are handled while waiting, so a worker waiting
    // for the UI thread is never left hanging.
    closing_ = true;
    while (!done_) {
        ui_.ProcessEvents(10);
    }
    worker_.join();
}

void RunJob::Start(std::function<void(RunOutcome)> finished) {
    finished_ = std::move(finished);
    worker_ = std::thread([this] { Work(); });
}

void RunJob::Work() {
    RunOutcome outcome = RunOutcome::Failed;
    {
        RelayHost host(*this);
        RunServices services{session_, wordProcessor_.get(),
                             [](const std::string& path) { return ShellPrint(path); }, &reg_};
        ExtractionRun run(settings_, host, services);
        outcome = run.Execute();
        // An office instance the run started is gone before the run counts
        // as over.
        wordProcessor_.reset();
    }
    auto finished = finished_;
    if (!closing_ && finished) {
        std::weak_ptr<int> alive = alive_;
        ui_.Post([this, alive, outcome, finished] {
            if (!alive.lock()) {
                return; // the job was destroyed first
            }
            if (worker_.joinable()) {
                worker_.join();
            }
            finished(outcome);
        });
    }
    done_ = true;
}

} // namespace qf::desktop
