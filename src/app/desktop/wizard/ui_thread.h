// The user-interface thread as seen from the wizard's plain classes: work
// posted to it runs between window events; a worker thread may call into it
// and wait for the answer.
#pragma once

#include <functional>
#include <memory>

namespace qf::desktop {

class UiThread {
public:
    virtual ~UiThread() = default;
    // Runs `work` on the UI thread once the current event has been handled.
    // Work posted after this object is gone is dropped.
    virtual void Post(std::function<void()> work) = 0;
    // Runs `work` on the UI thread and waits until it has run.  Called on the
    // UI thread itself, runs it at once.
    virtual void Call(const std::function<void()>& work) = 0;
    // True on the UI thread.
    virtual bool OnUiThread() const = 0;
    // Handles pending events, waiting up to `ms` milliseconds for one.
    virtual void ProcessEvents(int ms) = 0;
};

// The Qt event loop of the application's main thread.
std::unique_ptr<UiThread> MakeQtUiThread();

} // namespace qf::desktop
