// quillfence: the desktop program.  Builds the main window over its model,
// plugs in the status window, the folder chooser, the word processor, the
// profile chooser and the update check, and runs the event loop.  With --screenshots <folder> it
// saves a picture of every page at the smallest and at a large size, then ends.
#include "app/desktop/chooser/folder_chooser.h"
#include "app/desktop/program/status_window_host.h"
#include "app/desktop/status/status_window.h"
#include "app/desktop/update/update_dialog.h"
#include "app/desktop/wizard/attachment_types_dialog.h"
#include "app/desktop/wizard/main_window.h"
#include "app/desktop/wizard/profile_chooser_dialog.h"
#include "app/desktop/wizard/qt_dialogs.h"
#include "i18n/loadstrings.h"
#include "platform/messaging/profiles.h"
#include "platform/registry/registry.h"
#include "platform/wordproc/libreoffice.h"
#include "web/http_get.h"
#include "web/update_schedule.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

namespace {

using namespace qf;
using namespace qf::desktop;

// The options file named on the command line ("/F=path" or a plain path).
// The rest of the command line comes with its own part of the program.
void OpenFromCommandLine(WizardModel& model, const QStringList& args) {
    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args[i];
        if (arg.startsWith("/F=", Qt::CaseInsensitive)) {
            model.RequestOpen(arg.mid(3, 255).toStdString());
        } else if (!arg.startsWith('/') && !arg.startsWith('-')) {
            model.RequestOpen(arg.toStdString());
        }
    }
}

bool Save(QWidget& widget, const QString& path) {
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "quillfence: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

int TakeScreenshots(MainWindow& window, const QString& folder) {
    QDir().mkpath(folder);
    bool ok = true;
    const QSize sizes[] = {{MainWindow::kMinWidth, MainWindow::kMinHeight}, {1000, 760}};
    const char* names[] = {"min", "large"};
    for (int s = 0; s < 2; ++s) {
        window.resize(sizes[s]);
        for (int page = 0; page < kPageCount; ++page) {
            window.Pages()->setCurrentIndex(page);
            QApplication::processEvents();
            ok &= Save(window, QString("%1/page%2-%3.png").arg(folder).arg(page + 1).arg(names[s]));
        }
    }
    AttachmentTypesDialog editor(&window);
    editor.RestoreDefaults();
    editor.show();
    QApplication::processEvents();
    ok &= Save(editor, folder + "/attachment-types.png");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillfence");
    const QStringList args = QApplication::arguments();

    std::unique_ptr<UiThread> ui = MakeQtUiThread();
    QtDialogs dialogs;
    WizardModel model(dialogs, *ui, registry::Current());
    model.Create();
    try {
        InstallLanguage(model.Language());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillfence: %s\n", e.what());
    }
    mapi::SetProfileChooser(MakeProfileChooser(*ui));
    model.runWindowFactory = [&model] {
        return std::make_unique<StatusWindowHost>(model.Session());
    };
    model.onRunReturned = [](RunHost& host) { static_cast<StatusWindowHost&>(host).RunReturned(); };
    model.wordProcessorFactory =
        [](const Settings& run) -> std::unique_ptr<wordproc::WordProcessor> {
        if (!run.includeAttachments) {
            return nullptr;
        }
        return std::make_unique<wordproc::LibreOffice>(
            wordproc::LibreOfficeOptions::FromEnvironment());
    };

    MainWindow window(model, dialogs);
    dialogs.SetParent(&window);

    // One folder chooser for the program's life: it keeps its tree and
    // selection between showings.
    std::unique_ptr<FolderChooser> chooser;
    dialogs.folderChooser = [&chooser](QWidget* parent, MapiSession& session, FolderRole role,
                                       std::string& path, FolderReference& folder) {
        if (!chooser) {
            chooser = std::make_unique<FolderChooser>(session, parent);
        }
        Settings chosen;
        chosen.sourceFolder = folder;
        chosen.destinationFolder = folder;
        chosen.messageSource = path;
        chosen.messageDestination = path;
        if (!chooser->Choose(chosen, role, path)) {
            return false;
        }
        folder = role == FolderRole::Source ? chosen.sourceFolder : chosen.destinationFolder;
        return true;
    };

    // The weekly update offer and the Help menu's check share one schedule.
    web::UpdateSchedule schedule(registry::Current());
    schedule.Load();
    window.checkForUpdates = [&] { CheckWebForUpdates(&window, schedule); };
    model.offerUpdateIfDue = [&] { OfferUpdateIfDue(&window, schedule, args.size() > 1); };
    window.UpdateHookedItems();
    model.processCommandLine = [&] { OpenFromCommandLine(model, args); };
    QApplication::setApplicationDisplayName(QString());

    const int shots = static_cast<int>(args.indexOf("--screenshots"));
    if (shots > 0 && shots + 1 < args.size()) {
        model.AfterCreate();
        window.show();
        return TakeScreenshots(window, args[shots + 1]);
    }
    window.ShowPlaced();
    QTimer::singleShot(0, &window, [&] { model.AfterCreate(); });
    const int status = QApplication::exec();
    web::CancelAllFetches();
    chooser.reset();
    mapi::SetProfileChooser({});
    return status;
}
