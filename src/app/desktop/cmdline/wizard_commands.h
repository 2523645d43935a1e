// The command line and the requests of other instances, acting on the main
// window's model.
#pragma once

#include "app/desktop/cmdline/command_line.h"
#include "app/desktop/wizard/dialogs.h"
#include "app/desktop/wizard/wizard_model.h"

#include <functional>
#include <string>
#include <vector>

namespace qf::desktop {

class WizardCommandTarget : public CommandTarget {
public:
    // `uninstall` removes what the program stored and returns the lines of
    // what it removed; it may throw.
    using Uninstaller = std::function<std::vector<std::string>()>;

    WizardCommandTarget(WizardModel& model, Dialogs& dialogs, Uninstaller uninstall)
        : model_(model), dialogs_(dialogs), uninstall_(std::move(uninstall)) {}

    bool OpenFile(const std::string& path) override { return model_.OpenFile(path); }
    GoResult Go() override;
    bool Uninstall() override;
    void SetUpdateCount(bool on) override { model_.SetUpdateCount(on); }
    void ShowMessage(const std::string& text) override { dialogs_.ShowMessage(text); }
    void ShowError(const std::string& text) override { dialogs_.ShowError(text); }

private:
    WizardModel& model_;
    Dialogs& dialogs_;
    Uninstaller uninstall_;
};

// An execute text from another instance: a FileOpen command opens its file
// (after the run that works now, if any); anything else is shown as an
// invalid message.
void HandleExecuteText(const std::string& text, WizardModel& model, Dialogs& dialogs);

} // namespace qf::desktop
