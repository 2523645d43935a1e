// The deadline of one document: when it passes, a stop action runs on the
// watchdog's own thread (for an office this program started, killing its
// process group; for the user's, dropping the connection), so that a call
// blocked on a hanging office returns.  The caller then sees Expired() and
// replaces the office.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace qf::wordproc {

class OfficeWatchdog {
public:
    OfficeWatchdog() = default;
    // Stops the watchdog's thread; a pending stop action does not run.
    ~OfficeWatchdog();
    OfficeWatchdog(const OfficeWatchdog&) = delete;
    OfficeWatchdog& operator=(const OfficeWatchdog&) = delete;

    // Runs `stop` once `limit` has passed, unless Disarm or Arm comes first.
    // Clears Expired().
    void Arm(std::chrono::milliseconds limit, std::function<void()> stop);
    // Cancels the pending stop action.  Once this returns, no stop action is
    // running or will run, so what it refers to may go.  Expired() stays.
    void Disarm();
    // Whether the deadline of the last Arm passed and its stop action ran.
    bool Expired() const;

private:
    void Watch();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    std::function<void()> stop_;
    bool expired_ = false;
    bool quit_ = false;
    std::thread thread_;
};

// A duration as messages give it, in seconds: "4", "2.5".
std::string SecondsText(std::chrono::milliseconds duration);

} // namespace qf::wordproc
