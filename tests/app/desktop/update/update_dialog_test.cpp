// The update dialog against a local web server: every kind of answer, the
// weekly offer, "Don't ask me again until", and a dialog closed mid-fetch.
#include "app/desktop/i18n/window_registry.h"
#include "app/desktop/update/update_dialog.h"

#include "i18n/loadstrings.h"
#include "i18n/msgdlg.h"
#include "local_web_server.h"
#include "platform/registry/registry.h"

#include <QApplication>
#include <QDateEdit>
#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace qf::desktop {
namespace {

using namespace std::chrono_literals;
using web::test::LocalWebServer;

constexpr const char* kSettings = "SOFTWARE\\Brindlemox\\Quillfence";
const std::string kParameters = "?application=Quillfence%20Pro&ver=3.2&source=updater";

std::string Utf8(const std::u16string& s) {
    return QString::fromStdU16String(s).toStdString();
}

void RunEventsFor(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
}

class UpdateDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name :
             {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
            unsetenv(name);
        }
        registry::SetCurrent(reg);
    }

    void TearDown() override {
        delete CurrentUpdateDialog();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        registry::SetCurrent(std::make_shared<registry::MemoryRegistry>());
    }

    UpdateDialogOptions Options(const std::string& site) {
        UpdateDialogOptions o;
        o.site.siteAddress = site;
        o.openPage = [this](const std::string& page) { opened.push_back(page); };
        o.netUserName = [] { return std::string("ab cd"); };
        o.limits.connectTimeout = 5s;
        o.limits.readTimeout = 1s;
        o.limits.totalTimeout = 30s;
        return o;
    }

    UpdateDialog* Open(const std::string& site) {
        return CheckWebForUpdates(nullptr, schedule, Options(site));
    }

    // Presses OK ("Check web for updates now") and waits for the answer.
    void CheckNow(UpdateDialog* dialog) {
        dialog->OkButton()->click();
        WaitForAnswer(dialog);
    }

    void WaitForAnswer(UpdateDialog* dialog) {
        const QPointer<UpdateDialog> d(dialog);
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (d && d->Fetching() && std::chrono::steady_clock::now() < end) {
            RunEventsFor(20ms);
        }
        ASSERT_TRUE(!d || !d->Fetching()) << "no answer";
        RunEventsFor(20ms);
    }

    std::shared_ptr<registry::MemoryRegistry> reg = std::make_shared<registry::MemoryRegistry>();
    int today = 45000;
    web::UpdateSchedule schedule{*reg, [this] { return today; }};
    std::vector<std::string> infos;
    std::vector<std::string> questions;
    DlgResult answer = DlgResult::No;
    std::vector<std::string> opened;
    ScopedMessageHooks hooks{MessageHooks{
        [this](std::u16string_view text) { infos.push_back(Utf8(std::u16string(text))); },
        [this](std::u16string_view text, DlgKind kind, DlgButtons buttons, int helpTopic) {
            EXPECT_EQ(kind, DlgKind::Confirmation);
            EXPECT_EQ(buttons, kDlgYes | kDlgNo | kDlgCancel);
            EXPECT_EQ(helpTopic, 0);
            questions.push_back(Utf8(std::u16string(text)));
            return answer;
        }}};
};

TEST_F(UpdateDialogTest, OpensWithItsTextsAndTheChoiceToCheckNow) {
    schedule.SetNextCheckDate(45010);
    UpdateDialog* d = Open("http://127.0.0.1:1");
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(d->windowTitle(), "Quillfence Pro update");
    EXPECT_EQ(d->GroupBox()->title(), " This copy of Quillfence Pro v3.2 may be out of date ");
    EXPECT_EQ(d->CheckWeb()->toolTip(),
              "Access the internet to find out if Quillfence Pro needs updating");
    EXPECT_TRUE(d->CheckWeb()->isChecked());
    EXPECT_FALSE(d->NextDate()->isEnabled());
    EXPECT_EQ(d->NextDate()->date(), QDate(1899, 12, 30).addDays(45010));
    EXPECT_TRUE(d->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(d->isModal());
    d->DontAsk()->click();
    EXPECT_TRUE(d->NextDate()->isEnabled());
    d->CheckWeb()->click();
    EXPECT_FALSE(d->NextDate()->isEnabled());
    // The Help menu command brings the same dialog forward.
    EXPECT_EQ(Open("http://127.0.0.1:1"), d);
}

TEST_F(UpdateDialogTest, DontAskAgainUntilWritesTheDateAtOnceAndCloses) {
    schedule.SetNextCheckDate(0);
    QPointer<UpdateDialog> d = Open("http://127.0.0.1:1");
    EXPECT_EQ(d->NextDate()->date(), QDate(1899, 12, 30).addDays(today)); // 0 shows today
    d->DontAsk()->click();
    d->NextDate()->setDate(QDate(1899, 12, 30).addDays(45123));
    d->OkButton()->click();
    EXPECT_EQ(reg->GetValue(kSettings, "updateDate"), registry::Value::Dword(45123));
    EXPECT_EQ(schedule.NextCheckDate(), 45123);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(CurrentUpdateDialog(), nullptr);
    EXPECT_TRUE(infos.empty());
    EXPECT_TRUE(questions.empty());
}

TEST_F(UpdateDialogTest, ANewerReleaseIsOfferedAndItsPageOpened) {
    const LocalWebServer server;
    server.SetVersionList("newer", "OtherProduct,42200,,9.9\r\nQuillfence Pro,42097\r\n");
    UpdateDialog* d = Open(server.BaseUrl() + "/v/newer");
    answer = DlgResult::Yes;
    d->OkButton()->click();
    EXPECT_EQ(d->OkButton()->text(), "&Close");
    EXPECT_EQ(d->StatusBar()->currentMessage(), "Checking for update...please wait");
    WaitForAnswer(d);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0],
              "A Quillfence Pro vUnknown update is available - would you like to see What's New?");
    // No page of its own: the downloads page of the same site.
    EXPECT_EQ(opened,
              std::vector<std::string>{server.BaseUrl() + "/v/newer/downloads" + kParameters});
    EXPECT_EQ(d->StatusBar()->currentMessage(), "");
    EXPECT_TRUE(infos.empty());
    // OK became Close: a second click closes.
    d->OkButton()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(CurrentUpdateDialog(), nullptr);
}

TEST_F(UpdateDialogTest, EachAnswerGivesItsMessage) {
    const LocalWebServer server;
    server.SetVersionList("same", "QUILLFENCE PRO,42096.7058,,3.2\r\n");
    server.SetVersionList("bad", "Quillfence Pro,4.2e4x,http://x/,4\r\n");
    server.SetVersionList("other", "OtherProduct,42200,,9.9\r\n");
    struct Case {
        std::string site;
        std::string message;
    };
    const Case cases[] = {
        {"/v/same", "You already have the latest version of Quillfence Pro - no download is "
                    "necessary"},
        {"/v/bad", "Quillfence Pro date information found in invalid format 4.2e4x"},
        {"/v/other", "Quillfence Pro update information not found"},
        {"/status404", "Quillfence Pro update information not found"},
        {"/redirect/v/same", "You already have the latest version of Quillfence Pro - no "
                             "download is necessary"},
    };
    for (const Case& c : cases) {
        infos.clear();
        UpdateDialog* d = Open(server.BaseUrl() + c.site);
        CheckNow(d);
        EXPECT_EQ(infos, std::vector<std::string>{c.message}) << c.site;
        EXPECT_TRUE(questions.empty());
        delete d;
    }
}

TEST_F(UpdateDialogTest, AFailedFetchShowsTheErrorAndKeepsTheDialogOpen) {
    const LocalWebServer server;
    for (const std::string& site : {std::string("http://127.0.0.1:1"), server.BaseUrl() + "/silent",
                                    server.BaseUrl() + "/big", server.BaseUrl() + "/bignolength"}) {
        UpdateDialog* d = Open(site);
        CheckNow(d);
        EXPECT_EQ(d->StatusBar()->currentMessage(), "Error connecting to web site") << site;
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(d->OkButton()->text(), "&Close");
        delete d;
    }
    EXPECT_TRUE(infos.empty());
    EXPECT_TRUE(questions.empty());
}

TEST_F(UpdateDialogTest, OnlyWebAddressesAreOpened) {
    const LocalWebServer server;
    server.SetVersionList("file", "Quillfence Pro,42097,file:///etc/passwd,4.0\r\n");
    server.SetVersionList("script", "Quillfence Pro,42097,javascript:alert(1),4.0\r\n");
    server.SetVersionList("web", "Quillfence Pro,42097,https://example.invalid/new.htm,4.0\r\n");
    answer = DlgResult::Yes;
    for (const char* name : {"file", "script"}) {
        infos.clear();
        UpdateDialog* d = Open(server.BaseUrl() + "/v/" + name);
        CheckNow(d);
        ASSERT_EQ(infos.size(), 1u) << name;
        EXPECT_TRUE(infos[0].starts_with("The page address given for the Quillfence Pro update "
                                         "is not a web address and was not opened: "))
            << infos[0];
        delete d;
    }
    EXPECT_TRUE(opened.empty());
    UpdateDialog* d = Open(server.BaseUrl() + "/v/web");
    CheckNow(d);
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.invalid/new.htm" + kParameters});
    EXPECT_EQ(questions.back(),
              "A Quillfence Pro v4.0 update is available - would you like to see What's New?");
}

TEST_F(UpdateDialogTest, HttpsWorksWithTheTrustedAuthorityOnly) {
    const LocalWebServer server(LocalWebServer::Scheme::Https);
    server.SetVersionList("same", "Quillfence Pro,42096.7\r\n");
    UpdateDialogOptions options = Options(server.BaseUrl() + "/v/same");
    UpdateDialog* d = CheckWebForUpdates(nullptr, schedule, options);
    CheckNow(d);
    EXPECT_EQ(d->StatusBar()->currentMessage(), "Error connecting to web site");
    delete d;

    options.site.caFile = server.CertificateFile();
    d = CheckWebForUpdates(nullptr, schedule, options);
    CheckNow(d);
    EXPECT_EQ(infos, std::vector<std::string>{"You already have the latest version of Quillfence "
                                              "Pro - no download is necessary"});
}

TEST_F(UpdateDialogTest, ClosingMidFetchSilencesTheAnswer) {
    const LocalWebServer server;
    server.SetVersionList("newer", "Quillfence Pro,42097\r\n");
    for (const std::string& site : {server.BaseUrl() + "/trickle", server.BaseUrl() + "/silent"}) {
        QPointer<UpdateDialog> d = Open(site);
        d->OkButton()->click();
        RunEventsFor(150ms); // the worker is connected and reading
        ASSERT_TRUE(d && d->Fetching());
        d->CancelButton()->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(d.isNull());
        RunEventsFor(1500ms); // longer than the read time-out
    }
    EXPECT_TRUE(infos.empty());
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(web::RunningFetches(), 0u);
}

TEST_F(UpdateDialogTest, TheWeeklyOfferAppearsWhenDue) {
    schedule.SetNextCheckDate(0);
    EXPECT_EQ(OfferUpdateIfDue(nullptr, schedule, false, Options("http://127.0.0.1:1")), nullptr);
    schedule.SetNextCheckDate(today);
    EXPECT_EQ(OfferUpdateIfDue(nullptr, schedule, true, Options("http://127.0.0.1:1")), nullptr);
    EXPECT_EQ(schedule.NextCheckDate(), today);
    UpdateDialog* d = OfferUpdateIfDue(nullptr, schedule, false, Options("http://127.0.0.1:1"));
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(schedule.NextCheckDate(), today + 7);
    EXPECT_EQ(d->NextDate()->date(), QDate(1899, 12, 30).addDays(today + 7));
}

TEST_F(UpdateDialogTest, KeepsItsSizeButNotItsPosition) {
    UpdateDialog* d = Open("http://127.0.0.1:1");
    d->resize(517, 303);
    delete d;
    const std::string key = "Software\\Brindlemox\\Quillfence Pro\\Update";
    EXPECT_EQ(reg->GetValue(key, "Width"), registry::Value::Dword(517));
    // The position is written too, but never used: the dialog is centred.
    reg->SetValue(key, "Left", registry::Value::Dword(3));
    reg->SetValue(key, "Top", registry::Value::Dword(4));
    d = Open("http://127.0.0.1:1");
    EXPECT_EQ(d->size(), QSize(517, 303));
    EXPECT_NE(d->pos(), QPoint(3, 4));
    EXPECT_LE(
        (d->geometry().center() - d->screen()->availableGeometry().center()).manhattanLength(), 4);
}

TEST_F(UpdateDialogTest, TextsComeFromTheLanguageFile) {
    const auto folder = std::filesystem::temp_directory_path() / "qf-update-lang";
    std::filesystem::create_directories(folder);
    const auto file = folder / "Deutsch.ini";
    std::ofstream(file) << "[TupdateForm]\r\n"
                           "updateForm.Caption=%s Aktualisierung\r\n"
                           "checkWeb.Caption=Jetzt im Web nachsehen\r\n"
                           "dontAsk.Hint=\r\n"
                           "[global]\r\n"
                           "300=Suche...\r\n";
    SetStringLoader(std::make_unique<StringLoader>(file.string()));
    UpdateDialog* d = Open("http://127.0.0.1:1");
    EXPECT_EQ(d->windowTitle(), "Quillfence Pro Aktualisierung");
    EXPECT_EQ(d->CheckWeb()->text(), "Jetzt im Web nachsehen");
    EXPECT_EQ(d->DontAsk()->toolTip(), "Don't perform this check until the date specified");
    d->OkButton()->click();
    EXPECT_EQ(d->StatusBar()->currentMessage(), "Suche...");
    delete d;
    SetStringLoader(nullptr);
    std::filesystem::remove_all(folder);
}

TEST_F(UpdateDialogTest, ALanguageChangeFillsInTheProductAgainAndKeepsClose) {
    const auto folder = std::filesystem::temp_directory_path() / "qf-update-change";
    std::filesystem::create_directories(folder / "Languages");
    std::ofstream(folder / "Languages/German.ini") << "[TupdateForm]\r\n"
                                                      "updateForm.Caption=%s-Update\r\n"
                                                      "GroupBox1.Caption= %s ist alt \r\n"
                                                      "checkWeb.Hint=Ist %s aktuell?\r\n"
                                                      "okButton.Caption=OK\r\n";
    const std::string home = folder.string() + "/";
    InstallLanguage("English", home);
    UpdateDialog* d = Open("http://127.0.0.1:1");
    ChangeLanguage("German", home);
    EXPECT_EQ(d->windowTitle(), "Quillfence Pro-Update");
    EXPECT_EQ(d->GroupBox()->title(), " Quillfence Pro v3.2 ist alt ");
    EXPECT_EQ(d->CheckWeb()->toolTip(), "Ist Quillfence Pro aktuell?");
    EXPECT_EQ(d->CheckWeb()->statusTip(), "Ist Quillfence Pro aktuell?");
    d->OkButton()->click();
    ChangeLanguage("English", home);
    EXPECT_EQ(d->windowTitle(), "Quillfence Pro update");
    EXPECT_EQ(d->CheckWeb()->toolTip(), "Access the internet to find out if Quillfence Pro needs "
                                        "updating");
    EXPECT_EQ(d->OkButton()->text(), "&Close") << "still the Close button";
    delete d;
    SetStringLoader(nullptr);
    std::filesystem::remove_all(folder);
}

// Not a check: with QF_SCREENSHOT_DIR set (under Xvfb), saves pictures of
// the dialog for the documentation.
TEST_F(UpdateDialogTest, Screenshots) {
    const char* dir = std::getenv("QF_SCREENSHOT_DIR");
    if (!dir) {
        GTEST_SKIP() << "QF_SCREENSHOT_DIR not set";
    }
    const LocalWebServer server;
    UpdateDialog* d = Open(server.BaseUrl() + "/silent");
    RunEventsFor(300ms);
    EXPECT_TRUE(d->grab().save(QString(dir) + "/update-offer.png"));
    d->DontAsk()->click();
    RunEventsFor(100ms);
    EXPECT_TRUE(d->grab().save(QString(dir) + "/update-dont-ask.png"));
    d->CheckWeb()->click();
    d->OkButton()->click();
    RunEventsFor(300ms);
    EXPECT_TRUE(d->grab().save(QString(dir) + "/update-checking.png"));
}

} // namespace
} // namespace qf::desktop
