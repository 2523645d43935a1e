// The web getter's hand-over to Qt's event loop: handlers posted by a worker
// run on the thread of a context object (a window), and are dropped once
// that window is gone.
#pragma once

#include "web/event_loop.h"

#include <memory>
#include <mutex>

class QObject;

namespace qf::desktop {

class QtEventLoop : public web::EventLoop {
public:
    // Handlers run as queued calls on `context`, which must call Detach()
    // before it is destroyed.
    static std::shared_ptr<QtEventLoop> Create(QObject* context);

    void Post(std::function<void()> handler) override;
    void ProcessEvents(std::chrono::milliseconds wait) override;
    // From now on nothing posted runs (the context's destructor calls it).
    void Detach();

private:
    explicit QtEventLoop(QObject* context) : context_(context) {}

    std::mutex mutex_;
    QObject* context_;
};

} // namespace qf::desktop
