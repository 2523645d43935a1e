#include "app/desktop/windows/window_catalogue.h"

#include "app/desktop/chooser/folder_chooser.h"
#include "app/desktop/help/help_window.h"
#include "app/desktop/i18n/language_chooser.h"
#include "app/desktop/message/message_window.h"
#include "app/desktop/status/status_window.h"
#include "app/desktop/tips/tip_window.h"
#include "app/desktop/update/update_dialog.h"
#include "app/desktop/wizard/about_box.h"
#include "app/desktop/wizard/attachment_types_dialog.h"
#include "app/desktop/wizard/main_window.h"
#include "app/desktop/wizard/profile_chooser_dialog.h"
#include "app/desktop/wizard/qt_dialogs.h"
#include "common/installation.h"
#include "mail/session.h"
#include "platform/registry/registry.h"
#include "web/update_schedule.h"

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

// An email with every part the message window can show: no subject, a plain
// and an HTML body, one attachment.
EmailContent EveryPart() {
    EmailContent content;
    content.plainBody = " ";
    content.htmlBody = "<p></p>";
    content.attachments.push_back(AttachmentSummary{});
    return content;
}

} // namespace

void ForEachWindow(const std::function<void(QWidget&)>& visit) {
    {
        WizardScene scene;
        Visit<MainWindow>(visit, scene.model, scene.dialogs);
    }
    Visit<AttachmentTypesDialog>(visit);
    Visit<AboutBox>(visit);
    Visit<ProfileChooserDialog>(visit, std::vector<std::string>{}, std::string(),
                                std::vector<std::string>{});
    registry::MemoryRegistry reg;
    Visit<StatusWindow>(visit, reg);
    {
        MapiSession session; // logs on to nothing until the tree is first read
        Visit<FolderChooser>(visit, session, reg);
    }
    Visit<MessageWindow>(visit, EveryPart());
    {
        web::UpdateSchedule schedule(reg);
        Visit<UpdateDialog>(visit, nullptr, schedule, UpdateDialogOptions{});
    }
    Visit<LanguageChooser>(visit, InstallationFolder());
    Visit<TipWindow>(visit, std::string());
    Visit<HelpWindow>(visit, HelpBookPath());
}

} // namespace qf::desktop
