// quillfence: the desktop program.  Answers --help and --version, removes
// the user's stored settings when the first parameter is /UNINSTALL, hands
// options files to an instance that already runs for this user, and
// otherwise builds the main window over its model, plugs in the status
// window, the folder chooser, the word processor, the profile chooser and
// the update check, listens for later starts, and runs the event loop.  With
// --screenshots <folder> it saves a picture of every page at the smallest
// and at a large size, then ends.
#include "app/desktop/chooser/folder_chooser.h"
#include "app/desktop/cmdline/command_line.h"
#include "app/desktop/cmdline/single_instance.h"
#include "app/desktop/cmdline/uninstall.h"
#include "app/desktop/cmdline/wizard_commands.h"
#include "app/desktop/placement/qt_placement.h"
#include "app/desktop/program/status_window_host.h"
#include "app/desktop/status/status_window.h"
#include "app/desktop/update/update_dialog.h"
#include "app/desktop/windows/wiring.h"
#include "app/desktop/wizard/attachment_types_dialog.h"
#include "app/desktop/wizard/main_window.h"
#include "app/desktop/wizard/profile_chooser_dialog.h"
#include "app/desktop/wizard/qt_dialogs.h"
#include "common/installation.h"
#include "i18n/loadstrings.h"
#include "platform/messaging/profiles.h"
#include "platform/registry/registry.h"
#include "platform/wordproc/libreoffice.h"
#include "web/http_get.h"
#include "web/update_schedule.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

using namespace qf;
using namespace qf::desktop;

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
    editor.Grid()->setCurrentCell(13, 0); // .pdf: the hint on what to choose
    editor.show();
    QApplication::processEvents();
    ok &= Save(editor, folder + "/attachment-types.png");
    return ok ? 0 : 1;
}

std::vector<std::string> RemoveStoredData() {
    return RemoveUserData(registry::Current(), UserDataPlaces::ForThisUser());
}

bool UninstallFirst(const std::vector<std::string>& params) {
    return !params.empty() && (QString::fromStdString(params[0]).toUpper() == "/UNINSTALL" ||
                               params[0] == "--uninstall");
}

// "/UNINSTALL" as the first parameter: nothing else starts.  The report goes
// to standard output, and into a box when no terminal shows it (only then is
// a display needed).
int UninstallBeforeStart(int argc, char** argv) {
    std::string report;
    int status = 0;
    try {
        report = UninstallReport(RemoveStoredData());
        std::printf("%s\n", QString::fromStdString(report).remove('\r').toLocal8Bit().constData());
    } catch (const std::exception& e) {
        report = e.what();
        std::fprintf(stderr, "quillfence: %s\n", e.what());
        status = 1;
    }
    if (!::isatty(STDOUT_FILENO)) {
        QApplication app(argc, argv);
        QtDialogs dialogs;
        status == 0 ? dialogs.ShowMessage(report) : dialogs.ShowError(report);
    }
    return status;
}

// The command line, run as the start-up step of the window.  An end it asks
// for happens once the step is over: without the close question and without
// saving the settings, and after /UNINSTALL without writing anything.
bool ProcessCommandLine(WizardModel& model, QtDialogs& dialogs, MainWindow& window,
                        const std::vector<std::string>& params) {
    WizardCommandTarget target(model, dialogs, RemoveStoredData);
    const CommandLineResult result = CommandLineProcessor(target).Process(params);
    if (result.endRequested) {
        const bool writeBack = !result.uninstalled;
        QTimer::singleShot(0, &window, [&window, &model, writeBack] {
            if (writeBack) {
                SavePlacement(window, PlacementKey::MainWindow());
                model.WriteWindowValues();
            }
            QApplication::exit(0);
        });
        return false;
    }
    return result.completed;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> params = JoinSwitchValues({argv + 1, argv + argc});
    QString screenshots;
    if (const auto at = std::find(params.begin(), params.end(), "--screenshots");
        at != params.end() && at + 1 != params.end()) {
        screenshots = QString::fromStdString(*(at + 1));
        params.erase(at, at + 2);
    }
    for (const std::string& param : params) {
        const ParameterKind kind = ClassifyParameter(param, ParameterSource::CommandLine).kind;
        if (kind == ParameterKind::Help) {
            std::fputs(CommandLineHelp().c_str(), stdout);
            return 0;
        }
        if (kind == ParameterKind::Version) {
            std::printf("quillfence (%s) %s\n", kProductTitle, kProductVersion);
            return 0;
        }
    }

    if (UninstallFirst(params)) {
        return UninstallBeforeStart(argc, argv);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillfence");
    QApplication::setWindowIcon(QIcon::fromTheme("quillfence"));
    QtDialogs dialogs;

    SingleInstance instance(argv[0]);
    if (screenshots.isEmpty() && instance.HandOver(params)) {
        return 0;
    }

    std::unique_ptr<UiThread> ui = MakeQtUiThread();
    WizardModel model(dialogs, *ui, registry::Current());
    model.Create();
    try {
        InstallLanguage(model.Language());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillfence: %s\n", e.what());
    }
    mapi::SetProfileChooser(MakeProfileChooser(*ui));
    model.runWindowFactory = [&model] { return std::make_unique<StatusWindowHost>(model.Form()); };
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
    model.offerUpdateIfDue = [&] {
        OfferUpdateIfDue(&window, schedule, params.size() > 0);
        // Keep the date of the next offer (a first start's, or the one the
        // offer just moved on): without it every start would count anew.
        try {
            schedule.Save();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "quillfence: %s\n", e.what());
        }
    };
    window.UpdateHookedItems();
    WireLanguageTipsAndHelp(app, window, model);
    QApplication::setApplicationDisplayName(QString());

    if (!screenshots.isEmpty()) {
        model.AfterCreate();
        window.show();
        return TakeScreenshots(window, screenshots);
    }
    model.processCommandLine = [&] { return ProcessCommandLine(model, dialogs, window, params); };
    instance.Listen([&](const std::string& text) {
        HandleExecuteText(text, model, dialogs);
        window.raise();
        window.activateWindow();
    });
    window.ShowPlaced();
    QTimer::singleShot(0, &window, [&] { model.AfterCreate(); });
    const int status = QApplication::exec();
    web::CancelAllFetches();
    chooser.reset();
    mapi::SetProfileChooser({});
    return status;
}
