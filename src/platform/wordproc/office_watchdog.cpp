#include "platform/wordproc/office_watchdog.h"

#include <cstdio>

namespace qf::wordproc {

OfficeWatchdog::~OfficeWatchdog() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void OfficeWatchdog::Arm(std::chrono::milliseconds limit, std::function<void()> stop) {
    std::lock_guard lock(mutex_);
    expired_ = false;
    deadline_ = std::chrono::steady_clock::now() + limit;
    stop_ = std::move(stop);
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Watch(); });
    }
    wake_.notify_all();
}

void OfficeWatchdog::Disarm() {
    std::lock_guard lock(mutex_);
    deadline_.reset();
    stop_ = nullptr;
    wake_.notify_all();
}

bool OfficeWatchdog::Expired() const {
    std::lock_guard lock(mutex_);
    return expired_;
}

void OfficeWatchdog::Watch() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!deadline_) {
            wake_.wait(lock);
            continue;
        }
        const auto deadline = *deadline_;
        wake_.wait_until(lock, deadline);
        // Woken by Arm, Disarm or the destructor: look again.
        if (quit_ || !deadline_ || std::chrono::steady_clock::now() < *deadline_) {
            continue;
        }
        expired_ = true;
        deadline_.reset();
        // Run under the lock: Disarm waits for it to finish.
        if (stop_) {
            stop_();
            stop_ = nullptr;
        }
    }
}

std::string SecondsText(std::chrono::milliseconds duration) {
    double s = static_cast<double>(duration.count()) / 1000.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, s == static_cast<double>(static_cast<long>(s)) ? "%.0f" : "%.1f",
                  s);
    return buf;
}

} // namespace qf::wordproc
