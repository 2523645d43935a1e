// The whole desktop path a user takes: the demo options file opened in the
// wizard, Go, a status window of its own for the run, the sample mailbox's
// documents through the real LibreOffice, the .zip email as an exception
// row, and a double click on that row opening the email.
#include "app/desktop/message/message_window.h"
#include "app/desktop/program/status_window_host.h"
#include "app/desktop/status/status_window.h"
#include "app/desktop/wizard/wizard_model.h"
#include "platform/registry/registry.h"
#include "platform/wordproc/libreoffice.h"
#include "wizard/sample_mailbox.h"
#include "wizard/scripted_dialogs.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>

namespace qf::desktop {
namespace {

using testing::SampleMailbox;
using testing::ScriptedDialogs;

int CountTextFiles(const std::string& folder) {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        n += entry.path().extension() == ".txt" ? 1 : 0;
    }
    return n;
}

TEST(DesktopGo, TheDemoRunEndsInItsOwnStatusWindowWhoseZipRowOpensTheEmail) {
    SampleMailbox box;
    registry::MemoryRegistry reg;
    ScriptedDialogs dialogs;
    std::unique_ptr<UiThread> ui = MakeQtUiThread();
    WizardModel model(dialogs, *ui, reg);
    model.Create();
    model.AfterCreate();
    model.runWindowFactory = [&] { return std::make_unique<StatusWindowHost>(model.Form()); };
    model.onRunReturned = [](RunHost& h) { static_cast<StatusWindowHost&>(h).RunReturned(); };
    model.wordProcessorFactory = [](const Settings&) -> std::unique_ptr<wordproc::WordProcessor> {
        return std::make_unique<wordproc::LibreOffice>(
            wordproc::LibreOfficeOptions::FromEnvironment());
    };

    ASSERT_TRUE(model.OpenFile(std::string(std::getenv("QF_SOURCE_DIR")) + "/examples/demo.qfo"));
    model.Edit([&](Settings& s) {
        s.directory = box.TextFolder();
        s.manualFolder = box.ManualFolder();
        s.filterFilename.clear();
    });
    ASSERT_TRUE(model.Go());
    auto* host = dynamic_cast<StatusWindowHost*>(model.LastRunWindow());
    ASSERT_NE(host, nullptr);
    QPointer<StatusWindow> window = host->Window();
    std::vector<QString> errors;
    window->SetHooks({[](QWidget*, const QString&) {},
                      [](QWidget*, const QString&) { return true; },
                      [&](QWidget*, const QString& t) { errors.push_back(t); },
                      {}});
    model.WaitForRun();
    ASSERT_FALSE(window.isNull());

    EXPECT_EQ(window->StatusLabel()->text(), "Complete. 12 emails processed");
    EXPECT_EQ(window->Button()->text(), "&OK");
    EXPECT_EQ(CountTextFiles(box.TextFolder()), 12);
    EXPECT_EQ(model.Form().firstNumber, 13); // the next number came back to the wizard

    // The run's report came to the window, which offers to save it.
    EXPECT_FALSE(window->SaveReportButton()->isHidden());
    ASSERT_TRUE(window->Report());
    EXPECT_EQ(window->Report()->Emails().size(), 12u);
    EXPECT_NE(window->Report()->ToCsv(0).find("portfolio.zip: flagged for manual handling"),
              std::string::npos);

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

    // A second Go opens a second status window; the first stays open.
    ASSERT_TRUE(model.Go());
    model.WaitForRun();
    auto* second = dynamic_cast<StatusWindowHost*>(model.LastRunWindow());
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->Window(), window.data());
    EXPECT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());

    delete opened.data();
    window->close(); // the user's OK: the window frees itself
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

} // namespace
} // namespace qf::desktop
