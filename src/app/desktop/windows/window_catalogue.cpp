#include "app/desktop/windows/window_catalogue.h"

#include "app/desktop/help/help_window.h"
#include "app/desktop/i18n/language_chooser.h"
#include "app/desktop/tips/tip_window.h"
#include "app/desktop/wizard/attachment_types_dialog.h"
#include "app/desktop/wizard/main_window.h"
#include "app/desktop/wizard/qt_dialogs.h"
#include "common/installation.h"
#include "platform/registry/registry.h"

#include <memory>

namespace qf::desktop {

namespace {

// The main window over a model that reads and writes nothing real.
struct WizardScene {
    WizardScene()
        : reg(std::make_shared<registry::MemoryRegistry>()), ui(MakeQtUiThread()),
          model(dialogs, *ui, *reg) {
        model.Create();
    }
    std::shared_ptr<registry::MemoryRegistry> reg;
    QtDialogs dialogs;
    std::unique_ptr<UiThread> ui;
    WizardModel model;
};

template <typename Window, typename... Args>
void Visit(const std::function<void(QWidget&)>& visit, Args&&... args) {
    Window window(std::forward<Args>(args)...);
    visit(window);
}

} // namespace

void ForEachWindow(const std::function<void(QWidget&)>& visit) {
    {
        WizardScene scene;
        Visit<MainWindow>(visit, scene.model, scene.dialogs);
    }
    Visit<AttachmentTypesDialog>(visit);
    Visit<LanguageChooser>(visit, InstallationFolder());
    Visit<TipWindow>(visit, std::string());
    Visit<HelpWindow>(visit, HelpBookPath());
}

} // namespace qf::desktop
