#include "app/desktop/program/status_window_host.h"

#include "app/desktop/status/status_window.h"
#include "settings/settings.h"

namespace qf::desktop {

StatusWindowHost::StatusWindowHost(const Settings& logon) : window_(new StatusWindow()) {
    window_->SetLogonParameters(logon.profile, logon.profileName, logon.password);
    window_->SetRunActive(true);
}

StatusWindowHost::~StatusWindowHost() {
    RunReturned();
}

void StatusWindowHost::RunReturned() {
    if (!returned_) {
        returned_ = true;
        window_->SetRunActive(false); // a window the user closed meanwhile goes now
    }
}

void StatusWindowHost::Show() {
    window_->Show();
}
void StatusWindowHost::SetStatusText(const std::string& text) {
    window_->SetStatusText(text);
}
void StatusWindowHost::SetProgressValue(int percent) {
    window_->SetProgressValue(percent);
}
void StatusWindowHost::SetSubject(const std::string& subject) {
    window_->SetSubject(subject);
}
void StatusWindowHost::AddExceptionRow(const std::string& text, const std::string& emailEntryId,
                                       const std::string& storeEntryId) {
    window_->AddExceptionRow(text, emailEntryId, storeEntryId);
}
void StatusWindowHost::Finish() {
    window_->Finish();
}
void StatusWindowHost::ReportReady(const RunReport& report) {
    window_->ReportReady(report);
}
void StatusWindowHost::ShowWarning(const std::string& text) {
    window_->ShowWarning(text);
}
bool StatusWindowHost::AskYesNo(const std::string& text) {
    return window_->AskYesNo(text);
}
void StatusWindowHost::ShowError(const std::string& text) {
    window_->ShowError(text);
}
bool StatusWindowHost::Cancelled() const {
    return window_->Cancelled();
}
void StatusWindowHost::PumpMessages() {
    window_->PumpMessages();
}
// The main window's model takes these over on its own thread (RunJob).
void StatusWindowHost::SetNextFileNumber(std::int32_t nextNumber) {
    window_->SetNextFileNumber(nextNumber);
}
void StatusWindowHost::SaveAfterRun() {}

} // namespace qf::desktop
