// quillfence-langfile: writes Languages/English.ini by walking every window
// and collecting every numbered text, or checks the language files.
//
//   quillfence-langfile --source <src folder> --out <English.ini>
//   quillfence-langfile --source <src folder> --check <Languages folder>
//   quillfence-langfile --screenshots <folder>   (the German wizard, tips, help)
#include "app/desktop/help/help_window.h"
#include "app/desktop/i18n/window_registry.h"
#include "app/desktop/tips/tip_window.h"
#include "app/desktop/windows/language_generator.h"
#include "app/desktop/wizard/main_window.h"
#include "app/desktop/wizard/qt_dialogs.h"
#include "common/installation.h"
#include "i18n/loadstrings.h"
#include "platform/registry/registry.h"

#include <QTabWidget>
#include <QTimer>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace qf::desktop;

bool Grab(QWidget& window, const QString& path) {
    QApplication::processEvents();
    return window.grab().save(path);
}

int Screenshots(const QString& folder) {
    qf::InstallLanguage("German");
    QtDialogs dialogs;
    auto ui = MakeQtUiThread();
    WizardModel model(dialogs, *ui, qf::registry::Current());
    model.Create();
    MainWindow window(model, dialogs);
    TranslateAndWatch(window);
    model.AfterCreate();
    window.resize(MainWindow::kMinWidth, MainWindow::kMinHeight);
    window.show();
    bool ok = true;
    for (int page = 0; page < window.Pages()->count(); ++page) {
        window.Pages()->setCurrentIndex(page);
        ok &= Grab(window, QString("%1/page%2-de.png").arg(folder).arg(page + 1));
    }
    TipWindow tips(qf::InstallationFolder() + "TIPS.TXT");
    tips.SetTip(9);
    tips.show();
    ok &= Grab(tips, folder + "/tip-of-the-day-de.png");
    HelpWindow help(HelpBookPath());
    help.show();
    help.ShowTab(HelpWindow::Tab::Contents);
    help.WaitForContents(10000);
    QApplication::processEvents();
    help.ShowPage(QUrl("qthelp://com.brindlemox.quillfence/doc/getting-started.html"));
    ok &= Grab(help, folder + "/help-de.png");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    qf::registry::SetCurrent(std::make_shared<qf::registry::MemoryRegistry>());
    if (argc == 3 && std::string(argv[1]) == "--screenshots") {
        return Screenshots(argv[2]);
    }
    std::string source, out, check;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        (option == "--source" ? source : option == "--out" ? out : check) = argv[i + 1];
    }
    if (source.empty() || (out.empty() == check.empty())) {
        std::fprintf(stderr, "usage: quillfence-langfile --source <src> (--out <English.ini> | "
                             "--check <Languages>)\n");
        return 2;
    }
    const std::vector<std::string> problems = out.empty()
                                                  ? qf::desktop::CheckLanguageFiles(check, source)
                                                  : qf::desktop::GenerateEnglishFile(out, source);
    for (const std::string& p : problems) {
        std::fprintf(stderr, "quillfence-langfile: %s\n", p.c_str());
    }
    return problems.empty() ? 0 : 1;
}
