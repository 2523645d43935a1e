// The state one run shares between its driver, attachment handling and
// document conversion, and the reporting operations they all use.
#pragma once

#include "run/run_host.h"
#include "settings/settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qf {

class EmailMessage;

class RunContext {
public:
    RunContext(Settings& settings, RunHost& host) : settings_(settings), host_(host) {}

    Settings& settings() { return settings_; }
    RunHost& Host() { return host_; }

    // Number of the next output file.
    std::int32_t fileNumber = 0;
    // Set when an attachment of the email in hand needs a person; keeps the
    // email from being moved or tagged.
    bool manualIntervention = false;
    // Set when a cancel stopped the email in hand before all its attachments
    // were handled: its output is incomplete, so it is not moved or tagged.
    bool attachmentsCut = false;
    // Every output file written by this run, in order.
    std::vector<std::string> filesWritten;
    // Attachment copies made for conversion; deleted at normal completion.
    std::vector<std::string> tempFiles;

    // Each of these shows its change at once and then lets the host pump.
    void SetStatus(const std::string& text);
    void SetProgress(int percent, const std::string& subject);
    // A row of the exception list; `email` (may be null) is remembered so the
    // row can open it later.
    void AddException(const std::string& text, const EmailMessage* email);
    void ShowWarning(const std::string& text);
    bool Cancelled() const { return host_.Cancelled(); }
    void Pump() { host_.PumpMessages(); }

private:
    Settings& settings_;
    RunHost& host_;
};

} // namespace qf
