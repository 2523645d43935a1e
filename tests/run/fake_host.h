// A run host that records what the run told it.
#pragma once

#include "common/error.h"

#include "run/run_host.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qf::testing {

class FakeHost : public RunHost {
public:
    std::vector<std::string> statuses, warnings, errors, rows;
    int pumps = 0;
    bool cancelled = false;
    // Called at every pump, e.g. to press Cancel after a while.
    std::function<void(FakeHost&)> onPump;
    std::optional<std::int32_t> nextNumber;
    int saves = 0;

    void Show() override {}
    void SetStatusText(const std::string& text) override { statuses.push_back(text); }
    void SetProgressValue(int) override {}
    void SetSubject(const std::string&) override {}
    void AddExceptionRow(const std::string& text, const std::string&, const std::string&) override {
        rows.push_back(text);
    }
    void Finish() override {}
    void ShowWarning(const std::string& text) override { warnings.push_back(text); }
    bool AskYesNo(const std::string&) override { return false; }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    bool Cancelled() const override { return cancelled; }
    void PumpMessages() override {
        ++pumps;
        if (onPump) {
            onPump(*this);
        }
    }
    void SetNextFileNumber(std::int32_t n) override { nextNumber = n; }
    // Set to make SaveAfterRun fail as a read-only options file would.
    std::string saveError;
    void SaveAfterRun() override {
        ++saves;
        if (!saveError.empty()) {
            throw Error(saveError);
        }
    }
};

} // namespace qf::testing
