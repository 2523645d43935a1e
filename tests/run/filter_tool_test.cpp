#include "common/error.h"
#include "common/text.h"
#include "fake_host.h"
#include "run/email_text.h"
#include "run/filter_tool.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <thread>

namespace qf {
namespace {

using testing::FakeHost;
using testing::TempDir;

// The registry in memory, counting what the filter asks of it.  Setting
// rootDir makes the tool's key exist.
class FakeRegistry : public registry::MemoryRegistry {
public:
    std::optional<std::string> rootDir;
    mutable int calls = 0;
    std::map<std::string, std::uint32_t> written;

    bool KeyExists(std::string_view key) const override {
        ++calls;
        return rootDir && EqualsNoCase(key, kFilterToolKey);
    }
    std::optional<registry::Value> GetValue(std::string_view key,
                                            std::string_view name) const override {
        ++calls;
        if (!KeyExists(key) || !EqualsNoCase(name, "rootDir")) {
            return std::nullopt;
        }
        return registry::Value::String(*rootDir);
    }
    bool SetValue(std::string_view key, std::string_view name, registry::Value value) override {
        ++calls;
        if (!KeyExists(key)) {
            return false;
        }
        written[std::string(name)] = value.dword;
        return true;
    }
};

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class FilterTool : public ::testing::Test {
protected:
    // Installs a stand-in tool that logs its working folder and arguments,
    // then runs `tail` (shell commands).
    void InstallTool(const std::string& tail = "") {
        std::filesystem::create_directories(toolFolder);
        const std::string script = "#!/bin/sh\n"
                                   "pwd > '" +
                                   log +
                                   "'\n"
                                   "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" +
                                   log + "'; done\n" + tail;
        WriteWholeFile(toolFolder + "siftloom.exe", script);
        std::filesystem::permissions(toolFolder + "siftloom.exe",
                                     std::filesystem::perms::owner_all);
    }

    TempDir temp;
    // A folder with a blank, as tools are often installed.
    std::string toolFolder = temp.path() + "Siftloom Pro/";
    std::string output = temp.path() + "out/";
    std::string log = temp.path() + "tool.log";
    FakeRegistry registry;
    FakeHost host;

    void SetUp() override { std::filesystem::create_directories(output); }
};

TEST_F(FilterTool, NoFilterFileMeansNothingAtAll) {
    InstallTool();
    registry.rootDir = toolFolder;
    RunFilter("", output, {output + "1.txt"}, host, registry);
    EXPECT_EQ(registry.calls, 0);
    EXPECT_FALSE(std::filesystem::exists(output + kFileListName));
    EXPECT_FALSE(std::filesystem::exists(log));
    EXPECT_TRUE(host.warnings.empty());
}

TEST_F(FilterTool, ToolNotInstalledWarnsAndWritesNoList) {
    RunFilter("/f/jobs.sfl", output, {}, host, registry);
    ASSERT_EQ(host.warnings.size(), 1u);
    EXPECT_EQ(host.warnings[0],
              "Cannot locate Siftloom Pro's folder - Siftloom Pro processing disabled");
    EXPECT_FALSE(std::filesystem::exists(output + kFileListName));
}

TEST_F(FilterTool, ListSettingsAndCommandLineReachTheTool) {
    InstallTool();
    // Stored without its trailing slash.
    registry.rootDir = toolFolder.substr(0, toolFolder.size() - 1);
    const std::vector<std::string> files = {output + "1.txt", output + "2 two.txt"};
    RunFilter("\"/filters/my jobs.sfl\"", output, files, host, registry);

    EXPECT_EQ(ReadWholeFile(output + kFileListName),
              output + "1.txt\r\n" + output + "2 two.txt\r\n");
    EXPECT_EQ(registry.written,
              (std::map<std::string, std::uint32_t>{{"showTips", 0}, {"showWizard", 0}}));
    EXPECT_EQ(host.statuses,
              std::vector<std::string>{"Waiting for Siftloom Pro to finish (status unknown)..."});
    EXPECT_TRUE(host.warnings.empty());
    const std::vector<std::string> expected = {
        toolFolder.substr(0, toolFolder.size() - 1), // its working folder
        "/MINIMIZED",
        "/f=/filters/my jobs.sfl",
        "/L=" + output + "filelist$.txt",
        "/deletelistfile",
        "/g",
        "/q"};
    EXPECT_EQ(Lines(log), expected);
}

TEST_F(FilterTool, AnEmptyRunStillHandsTheToolAnEmptyList) {
    InstallTool();
    registry.rootDir = toolFolder;
    RunFilter("/f/jobs.sfl", output, {}, host, registry);
    EXPECT_EQ(ReadWholeFile(output + kFileListName), "");
    EXPECT_TRUE(std::filesystem::exists(log));
}

TEST_F(FilterTool, AToolThatCannotStartIsNamedInAWarning) {
    std::filesystem::create_directories(toolFolder); // installed, but the program is gone
    registry.rootDir = toolFolder;
    RunFilter("/f/jobs.sfl", output, {}, host, registry);
    ASSERT_EQ(host.warnings.size(), 1u);
    EXPECT_NE(host.warnings[0].find(FilterCommandLine(toolFolder, "/f/jobs.sfl", output)),
              std::string::npos)
        << host.warnings[0];
}

TEST_F(FilterTool, AListThatCannotBeWrittenFailsTheRun) {
    InstallTool();
    registry.rootDir = toolFolder;
    EXPECT_THROW(RunFilter("/f/jobs.sfl", output + "gone/", {}, host, registry), FileError);
    EXPECT_FALSE(std::filesystem::exists(log));
}

TEST_F(FilterTool, TheWaitPumpsAndEndsWithTheTool) {
    InstallTool("sleep 1\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        RunAndWait(toolFolder, toolFolder + "siftloom.exe", host, std::chrono::milliseconds(100)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_GE(host.pumps, 10); // two per interval
}

TEST_F(FilterTool, CancelEndsTheWaitAndLeavesTheToolRunning) {
    const std::string pidFile = temp.path() + "tool.pid";
    InstallTool("echo $$ > '" + pidFile + "'\nexec sleep 60\n");
    host.onPump = [](FakeHost& h) { h.cancelled = h.pumps >= 4; };
    EXPECT_TRUE(
        RunAndWait(toolFolder, toolFolder + "siftloom.exe", host, std::chrono::milliseconds(100)));
    EXPECT_EQ(host.pumps, 4);
    // Cancel ended the wait, not the tool.
    pid_t pid = 0;
    for (int i = 0; i < 100 && pid == 0; ++i) {
        std::ifstream(pidFile) >> pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::kill(pid, 0), 0);
    ::kill(pid, SIGKILL);
}

TEST(FilterCommandLineText, IsTheToolsFixedLine) {
    EXPECT_EQ(FilterCommandLine("/opt/s/", "/f/a.sfl", "/out/"),
              "/opt/s/siftloom.exe /MINIMIZED \"/f=/f/a.sfl\" \"/L=/out/filelist$.txt\" "
              "/deletelistfile /g /q");
    EXPECT_EQ(Settings::StripQuotes("\"a b\""), "a b");
    EXPECT_EQ(Settings::StripQuotes("\"a"), "a");
    EXPECT_EQ(Settings::StripQuotes("\""), "");
    EXPECT_EQ(Settings::StripQuotes("a\"b"), "a\"b");
}

} // namespace
} // namespace qf
