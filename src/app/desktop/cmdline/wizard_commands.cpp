#include "app/desktop/cmdline/wizard_commands.h"

#include "app/desktop/cmdline/uninstall.h"
#include "i18n/translate.h"
#include "platform/channel/execute_text.h"

namespace qf::desktop {

CommandTarget::GoResult WizardCommandTarget::Go() {
    switch (model_.StartGo()) {
    case WizardModel::GoStart::Declined:
        return GoResult::Declined;
    case WizardModel::GoStart::Failed:
        return GoResult::Failed;
    case WizardModel::GoStart::Started:
        break;
    }
    // The parameters after "/G" see the run's result (the next number, the
    // saved options file), so the run is waited for; the window stays live.
    model_.WaitForRun();
    const auto outcome = model_.LastOutcome();
    return outcome && *outcome == RunOutcome::Failed ? GoResult::Failed : GoResult::Finished;
}

bool WizardCommandTarget::Uninstall() {
    try {
        dialogs_.ShowMessage(
            UninstallReport(uninstall_ ? uninstall_() : std::vector<std::string>{}));
        return true;
    } catch (const std::exception& e) {
        dialogs_.ShowError(e.what());
        return false;
    }
}

void HandleExecuteText(const std::string& text, WizardModel& model, Dialogs& dialogs) {
    if (const auto path = channel::ParseFileOpen(text)) {
        model.RequestOpen(*path);
        return;
    }
    dialogs.ShowMessage(TranslateFmt(8450, "Invalid DDE message %s", {text + "\r\n"}));
}

} // namespace qf::desktop
