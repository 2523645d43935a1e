// One extraction run on a worker thread.  The user-interface thread stays
// free: the run window receives the run's reports from the worker (it must
// take them from any thread), and what the run hands back to the main window
// (the next file number, the save after the run) is carried over to the UI
// thread and waited for there.
#pragma once

#include "app/desktop/wizard/ui_thread.h"
#include "platform/registry/registry.h"
#include "platform/wordproc/word_processor.h"
#include "run/extraction_run.h"
#include "run/run_host.h"
#include "settings/settings.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace qf::desktop {

// What the run hands back to the main window; called on the UI thread.
struct RunHandBack {
    std::function<void(std::int32_t nextNumber)> setNextFileNumber;
    // May throw: the run then shows the error as a warning.
    std::function<void()> saveAfterRun;
};

class RunJob {
public:
    // Nothing runs before Start().  `window`, `session`, `reg` and `ui` must
    // outlive the job; the job owns the word processor.
    RunJob(Settings settings, RunHost& window, MapiSession& session,
           std::unique_ptr<wordproc::WordProcessor> wordProcessor, registry::Registry& reg,
           UiThread& ui, RunHandBack handBack);
    // Cancels a run still working and waits for it, handling events meanwhile
    // so that a question it asks can still be answered.
    ~RunJob();
    RunJob(const RunJob&) = delete;
    RunJob& operator=(const RunJob&) = delete;

    // Starts the worker.  `finished` is posted to the UI thread when the run
    // has returned and released everything it used.
    void Start(std::function<void(RunOutcome)> finished);
    // Asks the run to stop after the email in hand (as the Cancel button).
    void Cancel() { cancelled_ = true; }
    bool Done() const { return done_; }

private:
    class RelayHost;

    void Work();

    Settings settings_;
    RunHost& window_;
    MapiSession& session_;
    std::unique_ptr<wordproc::WordProcessor> wordProcessor_;
    registry::Registry& reg_;
    UiThread& ui_;
    RunHandBack handBack_;
    std::function<void(RunOutcome)> finished_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> done_{false};
    std::thread worker_;
    // Expires with the job: work posted by the worker checks it first.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace qf::desktop
