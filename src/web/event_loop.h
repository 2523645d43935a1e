// How a worker hands work to the user-interface thread.  The desktop program
// posts into Qt's event loop; headless programs and tests use QueuedEvents,
// which they pump themselves.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace qf::web {

class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Queues `handler` to run on the user-interface thread, after everything
    // queued before it.  Callable from any thread.  A loop that has been shut
    // down drops the handler.
    virtual void Post(std::function<void()> handler) = 0;
    // On the user-interface thread: runs what is queued, waiting up to `wait`
    // for something to arrive.
    virtual void ProcessEvents(std::chrono::milliseconds wait) = 0;
};

// A plain queue: Post from any thread, ProcessEvents on the thread that
// owns it.
class QueuedEvents : public EventLoop {
public:
    void Post(std::function<void()> handler) override;
    void ProcessEvents(std::chrono::milliseconds wait) override;
    // Handlers waiting to run.
    std::size_t Pending() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> queue_;
};

} // namespace qf::web
