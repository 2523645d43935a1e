#include "web/event_loop.h"

namespace qf::web {

void QueuedEvents::Post(std::function<void()> handler) {
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(handler));
    }
    arrived_.notify_all();
}

void QueuedEvents::ProcessEvents(std::chrono::milliseconds wait) {
    std::deque<std::function<void()>> batch;
    {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, wait, [this] { return !queue_.empty(); });
        batch.swap(queue_);
    }
    // Handlers run without the lock: they may post again.
    for (auto& handler : batch) {
        handler();
    }
}

std::size_t QueuedEvents::Pending() const {
    const std::lock_guard lock(mutex_);
    return queue_.size();
}

} // namespace qf::web
