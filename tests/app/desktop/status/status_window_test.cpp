// The status window as the host of real runs on a worker thread: its pages,
// its button's life cycle, exception rows that open their email long after
// the run released it, and closing it while the run works.
#include "desktop_fixture.h"

#include "app/desktop/i18n/window_registry.h"
#include "app/desktop/message/message_window.h"
#include "i18n/loadstrings.h"
#include "mail/mail_time.h"
#include "platform/registry/registry.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace qf::testing {
namespace {

using desktop::ChangeLanguage;
using desktop::MessageWindow;
using desktop::RunThread;
using desktop::StatusWindow;

// A word processor whose first document waits until the test lets it go, so
// a test can act while the run is busy with an email.
class HeldWordProcessor : public FakeWordProcessor {
public:
    std::promise<void> entered;
    std::shared_future<void> release;

    explicit HeldWordProcessor(std::shared_future<void> r) : release(std::move(r)) {}
    wordproc::DocumentId Open(const std::string& path, const std::string& a,
                              const std::string& b) override {
        if (!held_) {
            held_ = true;
            entered.set_value();
            release.wait();
        }
        return FakeWordProcessor::Open(path, a, b);
    }

private:
    bool held_ = false;
};

class StatusWindowTest : public ::testing::Test {
protected:
    MaildirFixture mail;
    registry::MemoryRegistry reg;
    QPointer<StatusWindow> window = new StatusWindow(reg);
    std::vector<QString> errors;
    std::optional<RunOutcome> outcome;

    StatusWindowTest() {
        window->SetHooks({[](QWidget*, const QString&) {},
                          [](QWidget*, const QString&) { return true; },
                          [this](QWidget*, const QString& text) { errors.push_back(text); },
                          {}});
    }
    ~StatusWindowTest() override {
        delete window.data();
        FlushDeletes();
    }

    RunThread* Start(const Settings& settings, RunThread::Services services = TestServices()) {
        RunThread* run = RunThread::Start(settings, *window, std::move(services));
        QObject::connect(run, &RunThread::Finished, [this](RunOutcome o, qint32) { outcome = o; });
        return run;
    }
    void RunToEnd(const Settings& settings, RunThread::Services services = TestServices()) {
        Start(settings, std::move(services));
        ASSERT_TRUE(WaitFor([&] { return outcome.has_value(); }));
    }
    QString Status() const { return window->StatusLabel()->text(); }
    bool TabShown() const { return window->Pages()->isTabVisible(1); }
};

TEST_F(StatusWindowTest, ARunWithoutExceptionsNeverShowsTheExceptionsTab) {
    mail.Deliver(Mail{});
    mail.Deliver(Titled("Second"));
    EXPECT_EQ(window->windowTitle(), "Processing emails...");
    EXPECT_EQ(window->Button()->text(), "&Cancel");
    EXPECT_EQ(window->size(), QSize(487, 223));
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    RunToEnd(mail.settings());
    EXPECT_EQ(*outcome, RunOutcome::Complete);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(TabShown());
    EXPECT_EQ(Status(), "Complete. 2 emails processed");
    EXPECT_EQ(window->Progress()->value(), 100);
    EXPECT_EQ(window->Button()->text(), "&OK");
    EXPECT_EQ(window->NextFileNumber(), 3);
}

TEST_F(StatusWindowTest, TheFirstRowShowsAndHighlightsTheTabLaterRowsFollowInOrder) {
    // Rows reported from another thread arrive in order, each at once.
    std::thread worker([this] {
        window->AddExceptionRow("first", "", "");
        window->AddExceptionRow("second", "", "");
    });
    worker.join();
    EXPECT_FALSE(TabShown()); // nothing is shown before the window's thread runs
    ASSERT_TRUE(WaitFor([&] { return window->ExceptionGrid()->rowCount() == 2; }));
    EXPECT_TRUE(TabShown());
    EXPECT_EQ(window->Pages()->tabText(1), "&2 Exceptions");
    EXPECT_EQ(window->Pages()->tabBar()->tabTextColor(1),
              window->palette().color(QPalette::Highlight));
    EXPECT_EQ(window->Pages()->currentIndex(), 0); // the progress page stays in front
    EXPECT_EQ(window->ExceptionGrid()->item(0, 0)->text(), "first");
    EXPECT_EQ(window->ExceptionGrid()->item(1, 0)->text(), "second");
    EXPECT_EQ(window->ExceptionGrid()->horizontalHeaderItem(0)->text(),
              "Emails requiring manual intervention");
}

TEST_F(StatusWindowTest, ExceptionRowsOfARealRunKeepTheirEmailsIdentity) {
    mail.Deliver(MailWithZip("Zip one"));
    mail.Deliver(Titled("Plain"));
    mail.Deliver(MailWithZip("Zip two"));
    Settings s = mail.settings();
    s.includeAttachments = true;
    RunToEnd(s);
    ASSERT_EQ(window->Exceptions().size(), 2u);
    EXPECT_NE(window->Exceptions()[0].text.find("Zip one"), std::string::npos);
    EXPECT_NE(window->Exceptions()[1].text.find("Zip two"), std::string::npos);
    EXPECT_FALSE(window->Exceptions()[0].emailEntryId.empty());
    EXPECT_FALSE(window->Exceptions()[0].storeEntryId.empty());
    EXPECT_TRUE(TabShown());
}

TEST_F(StatusWindowTest, QuestionsFromTheWorkerWaitForTheAnswerOnTheWindowsThread) {
    std::vector<QString> asked;
    window->SetHooks({[&](QWidget*, const QString& t) { asked.push_back("warn:" + t); },
                      [&](QWidget*, const QString& t) {
                          asked.push_back("ask:" + t);
                          return t == "yes?";
                      },
                      {},
                      {}});
    auto answers = std::async(std::launch::async, [this] {
        window->ShowWarning("careful");
        const bool first = window->AskYesNo("yes?");
        return std::make_pair(first, window->AskYesNo("no?"));
    });
    ASSERT_TRUE(WaitFor(
        [&] { return answers.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(answers.get(), std::make_pair(true, false));
    EXPECT_EQ(asked, (std::vector<QString>{"warn:careful", "ask:yes?", "ask:no?"}));
}

TEST_F(StatusWindowTest, CancelDuringARunReadsCloseAtOnceAndTheRunEndsInterrupted) {
    for (int i = 0; i < 3; ++i) {
        mail.Deliver(Titled("CV " + std::to_string(i), {{"cv.doc", "a CV", "application/msword"}}));
    }
    Settings s = mail.settings();
    s.includeAttachments = true;
    std::promise<void> release;
    HeldWordProcessor* held = nullptr;
    auto entered = std::make_shared<std::future<void>>();
    Start(s, TestServices([&]() -> std::unique_ptr<wordproc::WordProcessor> {
              auto p = std::make_unique<HeldWordProcessor>(release.get_future().share());
              held = p.get();
              *entered = p->entered.get_future();
              return p;
          }));
    ASSERT_TRUE(WaitFor([&] {
        return entered->valid() &&
               entered->wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }));
    QTest::mouseClick(window->Button(), Qt::LeftButton);
    EXPECT_EQ(window->Button()->text(), "&Close");
    EXPECT_TRUE(window->Cancelled());
    release.set_value();
    ASSERT_TRUE(WaitFor([&] { return outcome.has_value(); }));
    EXPECT_EQ(*outcome, RunOutcome::Interrupted);
    EXPECT_EQ(Status(), "Interrupted by user. 1 emails processed");
    EXPECT_EQ(window->Button()->text(), "&OK");
    (void)held;
}

TEST_F(StatusWindowTest, OkClosesAndANewWindowOpensAtTheSavedPlacement) {
    RunToEnd(mail.settings());
    window->show();
    window->setGeometry(120, 140, 520, 260);
    const QRect placed = window->geometry();
    ASSERT_EQ(window->Button()->text(), "&OK");
    QTest::mouseClick(window->Button(), Qt::LeftButton);
    FlushDeletes();
    EXPECT_TRUE(window.isNull());
    window = new StatusWindow(reg);
    EXPECT_EQ(window->geometry().size(), placed.size());
    // Stored as the frame's position: the same place within the frame's width.
    EXPECT_LE((window->geometry().topLeft() - placed.topLeft()).manhattanLength(), 8);
    EXPECT_GT(window->geometry().left(), 100);
}

TEST_F(StatusWindowTest, AFailedRunKeepsCancelWhichClosesOnTheSecondClick) {
    mail.Deliver(Titled("CV", {{"cv.doc", "a CV", "application/msword"}}));
    Settings s = mail.settings();
    s.includeAttachments = true;
    // No word processor installed: the run fails and says why.
    RunToEnd(s, TestServices([] { return std::unique_ptr<wordproc::WordProcessor>(); }));
    EXPECT_EQ(*outcome, RunOutcome::Failed);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith("No word processor is installed"));
    EXPECT_EQ(window->Button()->text(), "&Cancel");
    QTest::mouseClick(window->Button(), Qt::LeftButton);
    EXPECT_EQ(window->Button()->text(), "&Close");
    QTest::mouseClick(window->Button(), Qt::LeftButton);
    FlushDeletes();
    EXPECT_TRUE(window.isNull());
}

TEST_F(StatusWindowTest, ADoubleClickOpensTheRowsEmailAfterTheRunReleasedIt) {
    mail.Deliver(Titled("Before"));
    const std::string zipFile = mail.Deliver(MailWithZip("The one with the zip"));
    mail.Deliver(Titled("After"));
    Settings s = mail.settings();
    s.includeAttachments = true;
    RunToEnd(s);
    ASSERT_EQ(window->ExceptionGrid()->rowCount(), 1);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->Pages()->setCurrentIndex(1);
    QPointer<MessageWindow> opened;
    QObject::connect(window, &StatusWindow::MessageWindowOpened,
                     [&](MessageWindow* w) { opened = w; });
    QTableWidget* grid = window->ExceptionGrid();
    const QRect cell = grid->visualItemRect(grid->item(0, 0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_FALSE(opened.isNull()) << (errors.empty() ? "" : errors[0].toStdString());
    EXPECT_EQ(opened->HeaderText("Subject"), "The one with the zip");
    EXPECT_NE(opened->BodyText().toStdString().find("please find my CV"), std::string::npos);
    // The run wrote its note into the body: the row still finds the email.
    EXPECT_NE(opened->BodyText().toStdString().find("Manual intervention"), std::string::npos);
    delete opened.data();

    // Moved away by someone else: the row says why it cannot open it.
    mail.MakeFolder("Elsewhere");
    for (const auto& f : mail.Messages()) {
        if (MaildirFixture::StoredText(f).find("The one with the zip") != std::string::npos) {
            std::filesystem::rename(f, mail.FolderPath("Elsewhere") + "/cur/" +
                                           std::filesystem::path(f).filename().string());
        }
    }
    EXPECT_EQ(window->OpenException(0), nullptr);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith("Position:360 ")) << errors[0].toStdString();
    (void)zipFile;
}

TEST_F(StatusWindowTest, ARowOfAnEmbeddedEmailOpensTheEmailThatHoldsIt) {
    Mail inner = MailWithZip("Forwarded inside");
    Mail outer;
    outer.subject = "Outer holder";
    outer.parts.push_back({"fwd.eml", Render(inner), "message/rfc822", true});
    mail.Deliver(outer);
    Settings s = mail.settings();
    s.includeAttachments = true;
    RunToEnd(s);
    ASSERT_EQ(window->Exceptions().size(), 1u);
    MessageWindow* opened = window->OpenException(0);
    ASSERT_NE(opened, nullptr) << (errors.empty() ? "" : errors[0].toStdString());
    EXPECT_EQ(opened->HeaderText("Subject"), "Outer holder");
    delete opened;
}

TEST_F(StatusWindowTest, ClosingDuringARunHidesTheWindowUntilTheRunHasReturned) {
    mail.Deliver(Titled("CV", {{"cv.doc", "a CV", "application/msword"}}));
    mail.Deliver(Titled("Later"));
    Settings s = mail.settings();
    s.includeAttachments = true;
    std::promise<void> release;
    auto entered = std::make_shared<std::future<void>>();
    Start(s, TestServices([&]() -> std::unique_ptr<wordproc::WordProcessor> {
              auto p = std::make_unique<HeldWordProcessor>(release.get_future().share());
              *entered = p->entered.get_future();
              return p;
          }));
    ASSERT_TRUE(WaitFor([&] {
        return entered->valid() &&
               entered->wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }));
    window->close();
    FlushDeletes();
    ASSERT_FALSE(window.isNull()); // still there for the run
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->Cancelled());
    release.set_value();
    ASSERT_TRUE(WaitFor([&] {
        FlushDeletes();
        return window.isNull();
    }));
    EXPECT_EQ(*outcome, RunOutcome::Interrupted);
}

TEST_F(StatusWindowTest, TextsComeFromTheLanguageFile) {
    const std::string file = mail.temp.path() + "Deutsch.ini";
    WriteFileAtomic(file, "[TTstatusForm]\ncancelButton.Caption=&Abbrechen\n"
                          "TabSheet1.Caption=&1 Fortschritt\n"
                          "Exceptions.col_1.row_0=Bitte von Hand bearbeiten\n");
    SetStringLoader(std::make_unique<StringLoader>(file));
    StatusWindow translated(reg);
    SetStringLoader(nullptr);
    EXPECT_EQ(translated.Button()->text(), "&Abbrechen");
    EXPECT_EQ(translated.Pages()->tabText(0), "&1 Fortschritt");
    EXPECT_EQ(translated.Pages()->tabText(1), "&2 Exceptions");
    EXPECT_EQ(translated.ExceptionGrid()->horizontalHeaderItem(0)->text(),
              "Bitte von Hand bearbeiten");
}

TEST_F(StatusWindowTest, ALanguageChangeKeepsTheRunsTextsAndTheButtonsKind) {
    std::filesystem::create_directories(mail.temp.path() + "Languages");
    WriteFileAtomic(mail.temp.path() + "Languages/German.ini",
                    "[TTstatusForm]\ncancelButton.Caption=&Abbrechen\n"
                    "TabSheet1.Caption=&1 Fortschritt\nLabel1.Caption=E-Mail:\n"
                    "statusText.Caption=E-Mail 0 von 0:\n");
    InstallLanguage("English", mail.temp.path());
    StatusWindow open(reg);
    StatusWindow running(reg);
    running.SetStatusText("Processing email 3 of 9");
    running.SetSubject("Application");

    ChangeLanguage("German", mail.temp.path());
    EXPECT_EQ(open.StatusLabel()->text(), "E-Mail 0 von 0:");
    EXPECT_EQ(running.StatusLabel()->text(), "Processing email 3 of 9") << "the run's line stays";
    EXPECT_EQ(running.SubjectLabel()->text(), "Application");
    EXPECT_EQ(running.findChild<QLabel*>("Label1")->text(), "E-Mail:");
    EXPECT_EQ(running.Pages()->tabText(0), "&1 Fortschritt");
    EXPECT_EQ(running.Button()->text(), "&Abbrechen");

    running.Button()->click();
    open.Finish();
    ChangeLanguage("English", mail.temp.path());
    EXPECT_EQ(running.Pages()->tabText(0), "&1 Progress");
    EXPECT_EQ(running.Kind(), StatusWindow::ButtonKind::Close);
    EXPECT_EQ(running.Button()->text(), "&Close") << "not the first caption again";
    EXPECT_EQ(open.Button()->text(), "&OK");
    SetStringLoader(nullptr);
}

// --- Save report... ----------------------------------------------------------

class SaveReportTest : public StatusWindowTest {
protected:
    QString chosen; // what the file dialog answers
    QString title, filter;
    std::vector<QString> warnings;

    void SetUp() override {
        window->SetHooks({[this](QWidget*, const QString& text) { warnings.push_back(text); },
                          [](QWidget*, const QString&) { return true; },
                          [this](QWidget*, const QString& text) { errors.push_back(text); },
                          [this](QWidget*, const QString& t, const QString& f) {
                              title = t;
                              filter = f;
                              return chosen;
                          }});
    }
};

TEST_F(SaveReportTest, TheButtonComesWithTheEndOfTheRunAndWritesItsReport) {
    mail.Deliver(MailWithZip("Zip one"));
    mail.Deliver(Titled("Plain"));
    Settings s = mail.settings();
    s.includeAttachments = true;
    EXPECT_TRUE(window->SaveReportButton()->isHidden());
    EXPECT_EQ(window->SaveReportButton()->text(), "&Save report…");
    RunToEnd(s);
    ASSERT_FALSE(window->SaveReportButton()->isHidden());
    ASSERT_TRUE(window->Report());
    ASSERT_EQ(window->Report()->Emails().size(), 2u);
    EXPECT_EQ(window->Report()->Ending(), RunEnding::Complete);

    // Cancelled in the dialog: nothing is written.
    QTest::mouseClick(window->SaveReportButton(), Qt::LeftButton);
    EXPECT_EQ(title, "Save the run's report");
    EXPECT_EQ(filter, "CSV files (*.csv);;All files (*)");
    EXPECT_FALSE(std::filesystem::exists(mail.temp.path() + "run.csv"));

    chosen = QString::fromStdString(mail.temp.path() + "run.csv");
    QTest::mouseClick(window->SaveReportButton(), Qt::LeftButton);
    const std::string csv = ReadFileBytes(mail.temp.path() + "run.csv");
    EXPECT_EQ(csv, window->Report()->ToCsv(CurrentUtcOffsetSeconds()));
    EXPECT_NE(csv.find(",Zip one,"), std::string::npos) << csv;
    EXPECT_NE(csv.find("portfolio.zip: flagged for manual handling"), std::string::npos) << csv;
    EXPECT_TRUE(csv.ends_with(",complete,,,Complete. 2 emails processed\r\n")) << csv;
    EXPECT_TRUE(warnings.empty());

    // A file that cannot be written is told, and the window stays usable.
    chosen = QString::fromStdString(mail.temp.path() + "no such folder/run.csv");
    EXPECT_FALSE(window->SaveReport());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].contains("no such folder")) << warnings[0].toStdString();
}

TEST_F(SaveReportTest, AFailedRunOffersItsReportWithTheError) {
    mail.Deliver(Titled("CV", {{"cv.doc", "a CV", "application/msword"}}));
    Settings s = mail.settings();
    s.includeAttachments = true;
    RunToEnd(s, TestServices([] { return std::unique_ptr<wordproc::WordProcessor>(); }));
    EXPECT_EQ(*outcome, RunOutcome::Failed);
    ASSERT_FALSE(window->SaveReportButton()->isHidden());
    EXPECT_EQ(window->Report()->Ending(), RunEnding::Failed);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(QString::fromStdString(window->Report()->EndingMessage()), errors[0]);
}

} // namespace
} // namespace qf::testing
