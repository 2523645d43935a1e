// Go over the sample mailbox with its attachments through the real
// LibreOffice, into a real status window: it counts to the end, lists the
// .zip attachment's email as an exception, and a double click on that row
// opens the email in a message window.
#include "desktop_fixture.h"

#include "app/desktop/message/message_window.h"
#include "platform/registry/registry.h"

#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace qf::testing {
namespace {

using desktop::MessageWindow;
using desktop::RunThread;
using desktop::StatusWindow;

TEST(StatusWindowWithOffice, TheSampleMailboxEndsWithItsZipRowWhichOpensTheEmail) {
    namespace fs = std::filesystem;
    TempDir temp;
    const std::string maildir = temp.path() + "Maildir";
    fs::copy(std::string(QF_TEST_SOURCE_DIR) + "/examples/sample-maildir", maildir,
             fs::copy_options::recursive);
    for (const char* sub : {"/cur", "/new", "/tmp"}) {
        fs::create_directories(maildir + sub);
    }
    fs::create_directories(temp.path() + "TextFiles");
    fs::create_directories(temp.path() + "Manual");
    WriteFileAtomic(temp.path() + "profiles.ini",
                    "[profile Demo]\ndefault = yes\nstore = maildir | Personal Folders | " +
                        maildir + "\n");
    ::setenv("QUILLFENCE_PROFILES", (temp.path() + "profiles.ini").c_str(), 1);
    Settings s;
    s.LoadFromFile(std::string(QF_TEST_SOURCE_DIR) + "/examples/demo.qfo");
    s.directory = temp.path() + "TextFiles/";
    s.manualFolder = temp.path() + "Manual/";
    ASSERT_TRUE(s.includeAttachments);

    registry::MemoryRegistry reg;
    QPointer<StatusWindow> window = new StatusWindow(reg);
    std::vector<QString> errors;
    window->SetHooks({[](QWidget*, const QString&) {},
                      [](QWidget*, const QString&) { return true; },
                      [&](QWidget*, const QString& t) { errors.push_back(t); },
                      {}});
    std::optional<RunOutcome> outcome;
    RunThread::Services services = RunThread::Services::Real();
    services.registry = nullptr; // no filter tool
    RunThread* run = RunThread::Start(s, *window, services);
    QObject::connect(run, &RunThread::Finished, [&](RunOutcome o, qint32) { outcome = o; });
    ASSERT_TRUE(WaitFor([&] { return outcome.has_value(); }, 280));
    ASSERT_EQ(*outcome, RunOutcome::Complete) << (errors.empty() ? "" : errors[0].toStdString());
    EXPECT_EQ(window->StatusLabel()->text(), "Complete. 12 emails processed");
    EXPECT_EQ(window->Progress()->value(), 100);
    EXPECT_EQ(window->Button()->text(), "&OK");

    QTableWidget* grid = window->ExceptionGrid();
    ASSERT_EQ(grid->rowCount(), 1);
    EXPECT_TRUE(grid->item(0, 0)->text().contains("portfolio.zip"));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->Pages()->setCurrentIndex(1);
    QPointer<MessageWindow> opened;
    QObject::connect(window, &StatusWindow::MessageWindowOpened,
                     [&](MessageWindow* w) { opened = w; });
    const QPoint cell = grid->visualItemRect(grid->item(0, 0)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell);
    ASSERT_FALSE(opened.isNull()) << (errors.empty() ? "" : errors[0].toStdString());
    EXPECT_EQ(opened->HeaderText("Subject"), "Portfolio for Graphic Designer role");
    EXPECT_TRUE(opened->AttachmentList()->item(0)->text().contains("portfolio.zip"));
    delete opened.data();
    delete window.data();
    ::unsetenv("QUILLFENCE_PROFILES");
}

} // namespace
} // namespace qf::testing
