// Shared by the desktop window tests: waiting for the event loop, and runs
// over real Maildir trees into a status window.
#pragma once

#include "support/fake_word_processor.h"
#include "support/maildir_fixture.h"

#include "app/desktop/status/run_thread.h"
#include "app/desktop/status/status_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <chrono>
#include <functional>

namespace qf::testing {

// Runs the event loop until `done` holds or `seconds` have passed.
inline bool WaitFor(const std::function<bool()>& done, int seconds = 60) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Lets windows closed with WA_DeleteOnClose go.
inline void FlushDeletes() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A run's services without LibreOffice (the rule-driven fake stands in),
// printing or a filter tool.
inline desktop::RunThread::Services
TestServices(std::function<std::unique_ptr<wordproc::WordProcessor>()> makeWordProcessor = {}) {
    desktop::RunThread::Services services;
    services.makeWordProcessor = makeWordProcessor ? std::move(makeWordProcessor) : [] {
        return std::unique_ptr<wordproc::WordProcessor>(std::make_unique<FakeWordProcessor>());
    };
    services.print = [](const std::string&) { return true; };
    services.registry = nullptr;
    return services;
}

inline Mail Titled(const std::string& subject, std::vector<Part> parts = {}) {
    Mail m;
    m.subject = subject;
    m.parts = std::move(parts);
    return m;
}

// A .zip attachment: the default table flags it for manual handling.
inline Mail MailWithZip(const std::string& subject) {
    Mail m;
    m.subject = subject;
    m.parts.push_back({"portfolio.zip", "PK\x03\x04 not really a zip", "application/zip"});
    return m;
}

} // namespace qf::testing
