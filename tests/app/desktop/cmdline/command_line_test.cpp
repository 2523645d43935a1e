#include "app/desktop/cmdline/command_line.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qf::desktop {
namespace {

// Records what the parameters asked for, in order.
class RecordingTarget : public CommandTarget {
public:
    std::vector<std::string> calls;
    bool openSucceeds = true;
    GoResult goResult = GoResult::Finished;
    bool updateCount = false;

    bool OpenFile(const std::string& path) override {
        calls.push_back("open " + path);
        return openSucceeds;
    }
    GoResult Go() override {
        calls.push_back(updateCount ? "go counting" : "go");
        return goResult;
    }
    bool Uninstall() override {
        calls.push_back("uninstall");
        return true;
    }
    void SetUpdateCount(bool on) override { updateCount = on; }
    void ShowMessage(const std::string& text) override { calls.push_back("message " + text); }
    void ShowError(const std::string& text) override { calls.push_back("error " + text); }
};

using Kind = ParameterKind;
using Source = ParameterSource;

TEST(CommandLineTest, SwitchesMatchByPrefixIgnoringCaseInTheirOrder) {
    const struct {
        const char* text;
        Kind kind;
        const char* value;
    } table[] = {
        {"/F=x.qfo", Kind::OpenFile, "x.qfo"},
        {"/f=Jobs Daily.QFO", Kind::OpenFile, "Jobs Daily.QFO"}, // the path keeps its case
        {"/Z=cmds.txt", Kind::CommandFile, "cmds.txt"},
        {"/z=Cmds.txt", Kind::CommandFile, "Cmds.txt"},
        {"/G", Kind::Go, ""},
        {"/go", Kind::Go, ""},
        {"/Gxyz", Kind::Go, ""},
        {"/Q", Kind::Quit, ""},
        {"/Quit", Kind::Quit, ""},
        {"/UNINSTALL", Kind::Uninstall, ""},
        {"/uninstallnow", Kind::Uninstall, ""},
        {"/UPDATECOUNT", Kind::UpdateCount, ""},
        {"/updatecount", Kind::UpdateCount, ""},
        {"/UPDATE", Kind::Invalid, "/UPDATE"}, // too short for either /U switch
        {"/F", Kind::Invalid, "/F"},           // "/F" needs its "="
        {"/X", Kind::Invalid, "/X"},
        {"/", Kind::Invalid, "/"},
        {"--go", Kind::Go, ""},
        {"--quit", Kind::Quit, ""},
        {"--update-count", Kind::UpdateCount, ""},
        {"--uninstall", Kind::Uninstall, ""},
        {"--file=a b.qfo", Kind::OpenFile, "a b.qfo"},
        {"--commands=c.txt", Kind::CommandFile, "c.txt"},
        {"--help", Kind::Help, ""},
        {"--version", Kind::Version, ""},
        {"--GO", Kind::Invalid, "--GO"}, // the Linux spelling is exact
        {"--g", Kind::Invalid, "--g"},
        {"--file=", Kind::Invalid, "--file="},
        {"-x", Kind::Invalid, "-x"},
        // Absolute paths are files, even where they start like a switch.
        {"/home/ann/jobs.qfo", Kind::OpenFile, "/home/ann/jobs.qfo"},
        {"/Quarterly/run.qfo", Kind::OpenFile, "/Quarterly/run.qfo"},
        {"/F=/home/ann/x.qfo", Kind::OpenFile, "/home/ann/x.qfo"},
        {"jobs.qfo", Kind::OpenFile, "jobs.qfo"},
        {"", Kind::Ignored, ""},
    };
    for (const auto& row : table) {
        EXPECT_EQ(ClassifyParameter(row.text, Source::CommandLine),
                  (Parameter{row.kind, row.value}))
            << row.text;
    }
}

TEST(CommandLineTest, ACommandFileLineIsNeverANestedCommandFileNorAPlainFile) {
    EXPECT_EQ(ClassifyParameter("/Z=more.txt", Source::CommandFile).kind, Kind::Invalid);
    EXPECT_EQ(ClassifyParameter("--commands=more.txt", Source::CommandFile).kind, Kind::Invalid);
    EXPECT_EQ(ClassifyParameter(" /G", Source::CommandFile).kind, Kind::Ignored);
    EXPECT_EQ(ClassifyParameter("jobs.qfo", Source::CommandFile).kind, Kind::Ignored);
    EXPECT_EQ(ClassifyParameter("/g", Source::CommandFile).kind, Kind::Go);
}

TEST(CommandLineTest, PathsAreCutAtTheLongestPathTaken) {
    const std::string longPath(kMaxParameterPath + 50, 'a');
    EXPECT_EQ(ClassifyParameter("/F=" + longPath, Source::CommandLine).text.size(),
              kMaxParameterPath);
}

TEST(CommandLineTest, TwoWordSwitchesAreJoined) {
    EXPECT_EQ(JoinSwitchValues({"--file", "a.qfo", "--go", "--commands", "c", "--file"}),
              (std::vector<std::string>{"--file=a.qfo", "--go", "--commands=c", "--file"}));
}

class CommandLineProcessTest : public ::testing::Test {
protected:
    CommandLineResult Process(const std::vector<std::string>& params) {
        return CommandLineProcessor(target_).Process(params);
    }
    std::string CommandFile(const std::string& text) {
        const auto path = std::filesystem::temp_directory_path() /
                          ("qf-cmd-" + std::to_string(::getpid()) + ".txt");
        std::ofstream(path, std::ios::binary) << text;
        files_.push_back(path);
        return path.string();
    }
    ~CommandLineProcessTest() override {
        for (const auto& f : files_) {
            std::filesystem::remove(f);
        }
    }
    RecordingTarget target_;
    std::vector<std::filesystem::path> files_;
};

TEST_F(CommandLineProcessTest, OpenUpdateCountGoQuitRunsCountingThenEnds) {
    const auto result = Process({"/F=daily.qfo", "/UPDATECOUNT", "/G", "/Q"});
    EXPECT_EQ(target_.calls, (std::vector<std::string>{"open daily.qfo", "go counting"}));
    EXPECT_TRUE(result.completed);
    EXPECT_TRUE(result.endRequested);
    EXPECT_FALSE(result.uninstalled);
    EXPECT_FALSE(target_.updateCount) << "the flag is cleared when processing ends";
}

TEST_F(CommandLineProcessTest, QuitTakesEffectAfterTheRemainingParameters) {
    const auto result = Process({"/Q", "/G"});
    EXPECT_EQ(target_.calls, (std::vector<std::string>{"go"}));
    EXPECT_TRUE(result.endRequested);
}

TEST_F(CommandLineProcessTest, UpdateCountAfterGoDoesNotCountThatRun) {
    Process({"/G", "/UPDATECOUNT"});
    EXPECT_EQ(target_.calls, (std::vector<std::string>{"go"}));
}

TEST_F(CommandLineProcessTest, AnInvalidParameterIsShownAndTheRestStillHandled) {
    const auto result = Process({"/X", "plain", "/G"});
    EXPECT_EQ(target_.calls,
              (std::vector<std::string>{"message Invalid command line parameter\r\n/X",
                                        "open plain", "go"}));
    EXPECT_TRUE(result.completed);
}

TEST_F(CommandLineProcessTest, AFailureStopsTheRestAndKeepsTheWindowOpen) {
    target_.openSucceeds = false;
    auto result = Process({"/F=missing.qfo", "/G", "/Q"});
    EXPECT_EQ(target_.calls, (std::vector<std::string>{"open missing.qfo"}));
    EXPECT_FALSE(result.completed);
    EXPECT_FALSE(result.endRequested);

    target_ = RecordingTarget();
    target_.goResult = CommandTarget::GoResult::Failed;
    result = Process({"/Q", "/G", "/F=after.qfo"});
    EXPECT_EQ(target_.calls, (std::vector<std::string>{"go"}));
    EXPECT_FALSE(result.endRequested) << "a failed run leaves the window open even after /Q";
}

TEST_F(CommandLineProcessTest, AGoDeclinedByAQuestionIsNoError) {
    target_.goResult = CommandTarget::GoResult::Declined;
    const auto result = Process({"/G", "/F=next.qfo", "/Q"});
    EXPECT_EQ(target_.calls, (std::vector<std::string>{"go", "open next.qfo"}));
    EXPECT_TRUE(result.completed);
    EXPECT_TRUE(result.endRequested);
}

TEST_F(CommandLineProcessTest, ACommandFileHandlesItsNonEmptyLinesAsTheyAre) {
    const std::string file =
        CommandFile("/F=first.qfo\r\n\n /G\n/Z=nested.txt\n/updatecount\n/G\nignored\n/q");
    const auto result = Process({"/z=" + file, "/F=last.qfo"});
    EXPECT_EQ(target_.calls,
              (std::vector<std::string>{"open first.qfo",
                                        "message Invalid command line parameter\r\n/Z=nested.txt",
                                        "go counting", "open last.qfo"}));
    EXPECT_TRUE(result.endRequested);
}

TEST_F(CommandLineProcessTest, AnUnreadableCommandFileIsAnError) {
    const auto result = Process({"/Z=/nonexistent/cmds.txt", "/G"});
    ASSERT_EQ(target_.calls.size(), 1u);
    EXPECT_EQ(target_.calls[0].rfind("error ", 0), 0u) << target_.calls[0];
    EXPECT_NE(target_.calls[0].find("/nonexistent/cmds.txt"), std::string::npos);
    EXPECT_FALSE(result.completed);
}

TEST_F(CommandLineProcessTest, UninstallEndsAndNothingAfterItRuns) {
    auto result = Process({"/F=a.qfo", "/UNINSTALL", "/G"});
    EXPECT_EQ(target_.calls, (std::vector<std::string>{"open a.qfo", "uninstall"}));
    EXPECT_TRUE(result.endRequested);
    EXPECT_TRUE(result.uninstalled);
    target_.calls.clear();
    result = Process({"/Z=" + CommandFile("/uninstall\n/G\n"), "/G"});
    EXPECT_EQ(target_.calls, (std::vector<std::string>{"uninstall"}));
    EXPECT_TRUE(result.endRequested);
    EXPECT_TRUE(result.uninstalled);
}

} // namespace
} // namespace qf::desktop
