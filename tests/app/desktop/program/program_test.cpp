#include "app/desktop/cmdline/single_instance.h"
#include "app/desktop/cmdline/wizard_commands.h"
#include "platform/channel/execute_text.h"
#include "sample_mailbox.h"
#include "scripted_dialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qf::desktop {
namespace {

namespace fs = std::filesystem;
using testing::SampleMailbox;
using testing::ScriptedDialogs;

class ProgramTest : public ::testing::Test {
protected:
    ProgramTest() {
        runtime_ = box_.Root() / "runtime";
        fs::create_directories(runtime_);
        ::chmod(runtime_.c_str(), 0700);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("QT_QPA_PLATFORM", "offscreen");
        env_.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_.string()));
        env_.insert("XDG_CACHE_HOME", QString::fromStdString((box_.Root() / "cache").string()));
        env_.insert("QUILLFENCE_REGISTRY",
                    QString::fromStdString((box_.Root() / "registry.reg").string()));
    }
    std::string Program() const {
        return (fs::path(std::getenv("QF_BUILD_DIR")) / "bin/quillfence").string();
    }
    // Starts quillfence and serves this process's events until it ends.
    struct Ended {
        int code = -1;
        std::string out;
    };
    Ended Run(const QStringList& args, int limitMs = 120000) {
        QProcess process;
        process.setProcessEnvironment(env_);
        process.setWorkingDirectory(QString::fromStdString(box_.Root().string()));
        process.start(QString::fromStdString(Program()), args);
        QElapsedTimer clock;
        clock.start();
        while (process.state() != QProcess::NotRunning && clock.elapsed() < limitMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            process.waitForFinished(20);
        }
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "quillfence did not end: " << args.join(' ').toStdString();
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput().toStdString() +
                    process.readAllStandardError().toStdString()};
    }

    SampleMailbox box_;
    fs::path runtime_;
    QProcessEnvironment env_;
};

TEST_F(ProgramTest, HelpAndVersionAnswerWithoutAWindow) {
    const Ended help = Run({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* option : {"/F=", "--file=", "/G", "--go", "/Q", "--quit", "/UPDATECOUNT",
                               "--update-count", "/Z=", "--commands=", "/UNINSTALL"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    const Ended version = Run({"/F=x.qfo", "--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "quillfence (Quillfence Pro) 3.2\n");
}

TEST_F(ProgramTest, OpenUpdateCountGoQuitRunsHeadlessAndSavesTheNextNumber) {
    // An options file over the sample mailbox, starting at number 7.
    Settings settings;
    {
        registry::MemoryRegistry reg;
        settings.LoadFromRegistry(reg);
    }
    settings.directory = box_.TextFolder();
    settings.manualFolder = box_.ManualFolder();
    settings.includeAttachments = false;
    settings.emailsTo = Settings::kLeaveEmails;
    settings.filterFilename.clear();
    settings.firstNumber = 7;
    const std::string options = (box_.Root() / "daily.qfo").string();
    settings.SaveToFile(options);

    const Ended ended = Run({"/F=daily.qfo", "/UPDATECOUNT", "/G", "/Q"});
    ASSERT_EQ(ended.code, 0) << ended.out;
    const int count = box_.MessageCount();
    ASSERT_GT(count, 0);
    for (int n = 7; n < 7 + count; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "%05d.txt", n);
        EXPECT_TRUE(fs::exists(box_.TextFolder() + name)) << name;
    }
    Settings saved;
    saved.LoadFromFile(options);
    EXPECT_EQ(saved.firstNumber, 7 + count);
    // The end asked for by /Q writes the window values but not the settings.
    registry::FileRegistry reg((box_.Root() / "registry.reg").string(),
                               registry::FileRegistry::Mode::ReadOnly);
    EXPECT_TRUE(reg.GetValue(kSettingsKey, "language"));
    EXPECT_FALSE(reg.GetValue(kSettingsKey, "Directory"));
    EXPECT_FALSE(fs::exists(runtime_ / "quillfence.AppDDE")) << "the socket is removed at the end";
}

TEST_F(ProgramTest, ASecondStartHandsItsFileToTheRunningWindowAndEnds) {
    // The running instance: a model wired to the channel as the program does.
    ScriptedDialogs dialogs;
    std::unique_ptr<UiThread> ui = MakeQtUiThread();
    registry::MemoryRegistry reg;
    WizardModel model(dialogs, *ui, reg);
    model.Create();
    model.AfterCreate();
    {
        Settings s = model.Form();
        s.tagText = "from the second start";
        s.SaveToFile((box_.Root() / "jobs.qfo").string());
    }
    ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    SingleInstance running(Program());
    running.Listen([&](const std::string& text) { HandleExecuteText(text, model, dialogs); });
    ::unsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(running.SocketPath(), (runtime_ / "quillfence.AppDDE").string());

    const Ended second = Run({"jobs.qfo"}, 20000); // relative to the second start's folder
    EXPECT_EQ(second.code, 0) << second.out;
    for (int i = 0; i < 20 && model.Record().optionsFilePath.empty(); ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(model.Record().optionsFilePath, (box_.Root() / "jobs.qfo").string());
    EXPECT_EQ(model.Form().tagText, "from the second start");
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ProgramTest, FilesToHandOverAreAbsoluteAndOnlyWhenNothingElseIsAsked) {
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(FilesToHandOver({"a.qfo", "/F=/x/b.qfo", "--file=c.qfo"}),
              (std::vector<std::string>{cwd + "/a.qfo", "/x/b.qfo", cwd + "/c.qfo"}));
    EXPECT_TRUE(FilesToHandOver({"a.qfo", "/G"}).empty());
    EXPECT_TRUE(FilesToHandOver({}).empty());
}

} // namespace
} // namespace qf::desktop
