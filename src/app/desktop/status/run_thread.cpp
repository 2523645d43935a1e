#include "app/desktop/status/run_thread.h"

#include "app/desktop/status/status_window.h"
#include "mail/session.h"
#include "platform/registry/registry.h"
#include "platform/shell/shell.h"
#include "platform/wordproc/libreoffice.h"

Q_DECLARE_METATYPE(qf::RunOutcome)

namespace qf::desktop {

RunThread::Services RunThread::Services::Real() {
    Services services;
    services.makeWordProcessor = []() -> std::unique_ptr<wordproc::WordProcessor> {
        return std::make_unique<wordproc::LibreOffice>(
            wordproc::LibreOfficeOptions::FromEnvironment());
    };
    services.print = [](const std::string& path) { return ShellPrint(path); };
    services.registry = &registry::Current();
    return services;
}

RunThread::RunThread(Settings settings, StatusWindow& window, Services services)
    : QObject(&window), settings_(std::move(settings)), window_(window),
      services_(std::move(services)) {
    qRegisterMetaType<qf::RunOutcome>();
}

RunThread* RunThread::Start(Settings settings, StatusWindow& window, Services services) {
    auto* run = new RunThread(std::move(settings), window, std::move(services));
    run->Begin();
    return run;
}

RunThread::~RunThread() {
    Wait();
}

void RunThread::Begin() {
    window_.SetLogonParameters(settings_.profile, settings_.profileName, settings_.password);
    session_ = std::make_unique<MapiSession>();
    session_->SetLogonParameters(settings_.profile, settings_.profileName, settings_.password);
    try {
        session_->GetSession();
    } catch (const std::exception& e) {
        window_.Show();
        window_.ShowError(e.what());
        outcome_ = RunOutcome::Failed;
        nextNumber_ = settings_.firstNumber;
        // No run, but a report all the same: the logon failed.
        RunReport report;
        report.End(RunEnding::Failed, e.what(), LocalNow());
        window_.SetReport(std::move(report));
        QMetaObject::invokeMethod(
            this, [this] { emit Finished(outcome_, nextNumber_); }, Qt::QueuedConnection);
        return;
    }
    running_ = true;
    window_.SetRunActive(true);
    worker_ = std::thread([this] { Work(); });
}

void RunThread::Work() {
    std::unique_ptr<wordproc::WordProcessor> wordProcessor;
    if (settings_.includeAttachments && services_.makeWordProcessor) {
        wordProcessor = services_.makeWordProcessor();
    }
    RunServices services{*session_, wordProcessor.get(), services_.print, services_.registry};
    {
        ExtractionRun run(settings_, window_, services);
        outcome_ = run.Execute();
        nextNumber_ = run.NextFileNumber();
    }
    wordProcessor.reset(); // an office the run started is gone before we report
    QMetaObject::invokeMethod(
        this, [this] { Done(); }, Qt::QueuedConnection);
}

void RunThread::Done() {
    Wait();
    if (!running_) {
        return;
    }
    running_ = false;
    session_.reset();
    emit Finished(outcome_, nextNumber_);
    window_.SetRunActive(false); // may close (and free) the window and this object
}

void RunThread::Wait() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

} // namespace qf::desktop
