// Starts a run on a worker thread, reporting to a status window, and says
// when it is over.  The main window creates one per press of Go.
#pragma once

#include "run/extraction_run.h"
#include "settings/settings.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace qf {
class MapiSession;
namespace registry {
class Registry;
}
namespace wordproc {
class WordProcessor;
}
} // namespace qf

namespace qf::desktop {

class StatusWindow;

class RunThread : public QObject {
    Q_OBJECT
public:
    // What a run needs besides its settings; the defaults are the real ones.
    struct Services {
        // Called on the worker when the settings include attachments; may
        // give nullptr (no word processor installed).
        std::function<std::unique_ptr<wordproc::WordProcessor>()> makeWordProcessor;
        PrintFn print;
        registry::Registry* registry = nullptr;
        static Services Real();
    };

    // Logs on here (a profile chooser may ask the user), then runs on a
    // worker thread with a session of its own, so the main window's session
    // is never used from two threads.  A logon that fails is shown by the
    // window as the run's error.  The object belongs to `window`, which
    // stays open at least until the run has returned.
    static RunThread* Start(Settings settings, StatusWindow& window,
                            Services services = Services::Real());
    ~RunThread() override;

    bool Running() const { return running_; }
    RunOutcome Outcome() const { return outcome_; }
    std::int32_t NextFileNumber() const { return nextNumber_; }
    // Blocks until the worker has returned (the window's destructor).
    void Wait();

signals:
    // On the window's thread, after the worker has returned.
    void Finished(qf::RunOutcome outcome, qint32 nextFileNumber);

private:
    RunThread(Settings settings, StatusWindow& window, Services services);
    void Begin();
    void Work();
    void Done();

    Settings settings_;
    StatusWindow& window_;
    Services services_;
    std::unique_ptr<MapiSession> session_;
    std::thread worker_;
    bool running_ = false;
    RunOutcome outcome_ = RunOutcome::Failed;
    std::int32_t nextNumber_ = 0;
};

} // namespace qf::desktop
