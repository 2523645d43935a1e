// Plugs the language chooser, the tip of the day and the help book into the
// main window and its start-up.
#pragma once

class QApplication;

namespace qf::desktop {

class MainWindow;
class WizardModel;

// Walks the main window, walks every later window when it is first shown,
// makes F1 open help, and fills the main window's language, tip and help
// commands and the first-start help or tip.
void WireLanguageTipsAndHelp(QApplication& app, MainWindow& window, WizardModel& model);

} // namespace qf::desktop
