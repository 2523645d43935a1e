// Takes the screenshots of the status window (during and after a run with
// exceptions), the folder chooser over a two-store profile, the message
// window and the update dialog, into the folder given as the first argument.
// With "--language German <folder>" the windows are in that language (its
// file in <folder>Languages/) and the pictures are named "*-de.png".  Run it
// on a display (scripts/screenshots-status starts one with Xvfb).
#include "desktop_fixture.h"

#include "app/desktop/chooser/folder_chooser.h"
#include "app/desktop/message/message_window.h"
#include "app/desktop/update/update_dialog.h"
#include "i18n/loadstrings.h"
#include "mail/session.h"
#include "platform/registry/registry.h"
#include "web/update_schedule.h"

#include <QApplication>
#include <QPixmap>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTreeView>

#include <future>
#include <iostream>

using namespace qf;
using namespace qf::testing;

namespace {

// Holds the run at its first document so the window can be seen mid-run.
class HeldWordProcessor : public FakeWordProcessor {
public:
    std::shared_future<void> release;
    std::atomic<bool> entered{false};
    wordproc::DocumentId Open(const std::string& path, const std::string& a,
                              const std::string& b) override {
        if (!entered.exchange(true)) {
            release.wait();
        }
        return FakeWordProcessor::Open(path, a, b);
    }
};

void Save(QWidget& w, const std::string& file) {
    WaitFor([] { return false; }, 0);
    QApplication::processEvents();
    w.grab().save(QString::fromStdString(file));
    std::cout << "wrote " << file << "\n";
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool translated = argc == 5 && std::string(argv[2]) == "--language";
    if (argc != 2 && !translated) {
        std::cerr << "usage: status_screenshots <folder> [--language <name> <folder>/]\n";
        return 2;
    }
    const std::string out = std::string(argv[1]) + "/";
    const std::string suffix = translated ? "-de.png" : ".png";
    if (translated) {
        InstallLanguage(argv[3], argv[4]);
    }
    MaildirFixture mail;
    const std::string archive = mail.temp.path() + "Archive";
    for (const char* f : {"", "/.2025", "/.2025.Rejected", "/.Hired"}) {
        for (const char* sub : {"/cur", "/new", "/tmp"}) {
            std::filesystem::create_directories(archive + f + sub);
        }
    }
    mail.MakeFolder("Applications");
    mail.MakeFolder("Applications.Design");
    mail.MakeFolder("Processed");
    mail.MakeFolder("Bewerbungen f&APw-r K&APY-ln");
    WriteFileAtomic(mail.temp.path() + "profiles.ini",
                    "[profile Office]\ndefault = yes\nstore = maildir | Personal Folders | " +
                        mail.root + "\nstore = maildir | Archive | " + archive + "\n");
    for (int i = 1; i <= 6; ++i) {
        Mail m = i % 3 == 0 ? MailWithZip("Portfolio " + std::to_string(i) + " for the design role")
                            : Titled("Application " + std::to_string(i),
                                     {{"cv.doc", "Curriculum vitae", "application/msword"}});
        m.from =
            "Applicant " + std::to_string(i) + " <applicant" + std::to_string(i) + "@example.org>";
        mail.Deliver(m);
    }
    Settings s = mail.settings();
    s.includeAttachments = true;

    registry::MemoryRegistry reg;
    auto* window = new desktop::StatusWindow(reg);
    std::promise<void> release;
    HeldWordProcessor* held = nullptr;
    desktop::RunThread* run = desktop::RunThread::Start(
        s, *window, TestServices([&]() -> std::unique_ptr<wordproc::WordProcessor> {
            auto p = std::make_unique<HeldWordProcessor>();
            p->release = release.get_future().share();
            held = p.get();
            return p;
        }));
    bool finished = false;
    QObject::connect(run, &desktop::RunThread::Finished, [&] { finished = true; });
    WaitFor([&] { return held != nullptr && held->entered; });
    if (!translated) {
        window->AddExceptionRow(
            "Email with subject \"Portfolio 0 for the design role\" requires "
            "manual intervention (Attachment is flagged for manual handling) for "
            "attachment \"portfolio.zip\" (output file is \"00000.txt\")",
            "", "");
        Save(*window, out + "status-during-run.png");
    }
    release.set_value();
    WaitFor([&] { return finished; });
    window->Pages()->setCurrentIndex(1);
    Save(*window, out + "status-after-run" + suffix);

    MapiSession session;
    desktop::FolderChooser chooser(session, reg);
    chooser.show();
    chooser.SelectPath("Personal Folders\\Applications\\Design");
    chooser.Tree()->expand(chooser.Model()->index(0, 0));
    Save(chooser, out + "chooser-two-stores" + suffix);

    desktop::MessageWindow* message = window->OpenException(translated ? 0 : 1);
    if (message != nullptr) {
        message->resize(640, 480);
        Save(*message, out + "message-window" + suffix);
    }
    web::UpdateSchedule schedule(reg);
    desktop::UpdateDialogOptions options;
    options.site.siteAddress = "http://127.0.0.1:1";
    auto* update = new desktop::UpdateDialog(nullptr, schedule, options);
    update->show();
    Save(*update, out + "update-offer" + suffix);
    delete update;
    delete window;
    return message != nullptr ? 0 : 1;
}
