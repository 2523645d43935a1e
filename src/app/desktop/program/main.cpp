// quillfence: the desktop program.  Builds the main window over its model,
// plugs in the run window, the word processor and the profile chooser, and
// runs the event loop.  With --screenshots <folder> it saves a picture of
// every page at the smallest and at a large size, then ends.
#include "app/desktop/program/basic_run_window.h"
#include "app/desktop/windows/wiring.h"
#include "app/desktop/wizard/attachment_types_dialog.h"
#include "app/desktop/wizard/main_window.h"
#include "app/desktop/wizard/profile_chooser_dialog.h"
#include "app/desktop/wizard/qt_dialogs.h"
#include "i18n/loadstrings.h"
#include "platform/messaging/profiles.h"
#include "platform/registry/registry.h"
#include "platform/wordproc/libreoffice.h"

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
    model.runWindowFactory = [] { return std::make_unique<BasicRunWindow>(); };
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
    model.processCommandLine = [&] { OpenFromCommandLine(model, args); };
    WireLanguageTipsAndHelp(app, window, model);
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
    mapi::SetProfileChooser({});
    return status;
}
