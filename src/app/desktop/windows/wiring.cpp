#include "app/desktop/windows/wiring.h"

#include "app/desktop/help/help_window.h"
#include "app/desktop/i18n/language_chooser.h"
#include "app/desktop/i18n/window_registry.h"
#include "app/desktop/tips/tip_window.h"
#include "app/desktop/wizard/main_window.h"
#include "common/installation.h"
#include "common/text.h"
#include "i18n/msgdlg.h"

#include <QApplication>

namespace qf::desktop {

namespace {

void ShowTip(MainWindow& window, WizardModel& model, bool complain) {
    int current = model.CurrentTip();
    bool show = model.ShowTips();
    try {
        ShowTipOfTheDay(current, show, complain, &window);
        model.SetTipState(current, show);
    } catch (const std::exception& e) {
        AskDlg(Utf8ToUtf16(e.what()), DlgKind::Error, kDlgOK);
    }
}

} // namespace

void WireLanguageTipsAndHelp(QApplication& app, MainWindow& window, WizardModel& model) {
    TranslateAndWatch(window);
    InstallWindowWalker(app);
    InstallHelpKey(app);
    window.showHelpContents = [] { ShowHelpContents(); };
    window.showHelpIndex = [] { ShowHelpIndex(); };
    window.showTipOfTheDay = [&window, &model] { ShowTip(window, model, true); };
    window.changeLanguage = [&window, &model] {
        if (auto chosen = ChooseLanguage(&window, model.Language(), InstallationFolder())) {
            model.SetLanguage(*chosen);
        }
    };
    model.showFirstStartHelpOrTip = [&window, &model](bool firstStart) {
        if (firstStart) {
            ShowHelpContents();
        } else if (model.ShowTips()) {
            ShowTip(window, model, false);
        }
    };
    window.UpdateHookedItems();
}

} // namespace qf::desktop
