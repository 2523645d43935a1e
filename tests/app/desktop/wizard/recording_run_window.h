// A run window for tests: records what the run reports, from any thread, and
// can hold the run at its first call until the test lets it go on.
#pragma once

#include "run/run_host.h"
#include "run/run_report.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qf::desktop::testing {

class RecordingRunWindow : public RunHost {
public:
    explicit RecordingRunWindow(bool holdAtShow = false) : held_(holdAtShow) {}

    // Lets a held run go on.
    void Release() {
        std::lock_guard lock(mutex_);
        held_ = false;
        cv_.notify_all();
    }
    // True once the run has called Show() (and is held there when asked).
    bool Shown() const { return shown_; }
    bool Finished() const { return finished_; }
    std::vector<std::string> Statuses() const {
        std::lock_guard lock(mutex_);
        return statuses_;
    }
    std::vector<std::string> Errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    // The report the run handed over at its end.
    std::optional<RunReport> Report() const {
        std::lock_guard lock(mutex_);
        return report_;
    }
    std::atomic<bool> cancel{false};

    void Show() override {
        shown_ = true;
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return !held_; });
    }
    void SetStatusText(const std::string& text) override {
        std::lock_guard lock(mutex_);
        statuses_.push_back(text);
    }
    void SetProgressValue(int) override {}
    void SetSubject(const std::string&) override {}
    void AddExceptionRow(const std::string&, const std::string&, const std::string&) override {}
    void Finish() override { finished_ = true; }
    void ReportReady(const RunReport& report) override {
        std::lock_guard lock(mutex_);
        report_ = report;
    }
    void ShowWarning(const std::string& text) override { ShowError(text); }
    bool AskYesNo(const std::string&) override { return true; }
    void ShowError(const std::string& text) override {
        std::lock_guard lock(mutex_);
        errors_.push_back(text);
    }
    bool Cancelled() const override { return cancel; }
    void PumpMessages() override {}
    void SetNextFileNumber(std::int32_t) override {}
    void SaveAfterRun() override {}

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool held_;
    std::atomic<bool> shown_{false};
    std::atomic<bool> finished_{false};
    std::vector<std::string> statuses_;
    std::vector<std::string> errors_;
    std::optional<RunReport> report_;
};

} // namespace qf::desktop::testing
