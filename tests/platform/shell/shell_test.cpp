#include "common/error.h"
#include "common/fileio.h"
#include "platform/shell/shell.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>

namespace qf {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Puts stand-in programs (opener, printer, editor) alone on PATH; each logs
// its working folder and arguments, one per line, then exits with the code
// the test chose.
class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qfshell.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
        fs::create_directories(dir_ + "bin");
        Save("PATH");
        Save("QUILLFENCE_TEXT_EDITOR");
        // Only the stand-ins: a real opener or printer is never reached.
        ::setenv("PATH", (dir_ + "bin").c_str(), 1);
        ::unsetenv("QUILLFENCE_TEXT_EDITOR");
        SetClipboardWriter(nullptr);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        SetClipboardWriter(nullptr);
        fs::remove_all(dir_);
    }

    // Writes bin/<name>, logging to <name>.log.
    void StandIn(const std::string& name, int exitCode) {
        const std::string path = dir_ + "bin/" + name;
        WriteFileAtomic(path,
                        "#!/bin/sh\n"
                        "pwd > '" +
                            Log(name) +
                            "'\n"
                            "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" +
                            Log(name) +
                            "'; done\n"
                            "exit " +
                            std::to_string(exitCode) + "\n",
                        0755);
    }
    std::string Log(const std::string& name) const { return dir_ + name + ".log"; }
    // The arguments a stand-in was given (without its working folder).
    std::vector<std::string> ArgsOf(const std::string& name) const {
        auto lines = Lines(Log(name));
        if (!lines.empty()) {
            lines.erase(lines.begin());
        }
        return lines;
    }
    void UseEditor(int exitCode) {
        StandIn("editor", exitCode);
        ::setenv("QUILLFENCE_TEXT_EDITOR", (dir_ + "bin/editor").c_str(), 1);
    }
    const std::string& dir() const { return dir_; }

private:
    void Save(const std::string& name) {
        const char* v = std::getenv(name.c_str());
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::string dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A text a shell would take apart: it must reach the program as one argument.
const std::string kHostile = "/tmp/CV of 'Ann'; rm -rf ~ $(id) `id` | x > y.doc";

TEST_F(Shell, OpenHandsTheTextToTheDesktopHandlerAsOneArgument) {
    StandIn("xdg-open", 0);
    EXPECT_TRUE(ShellOpen(kHostile));
    EXPECT_EQ(ArgsOf("xdg-open"), std::vector<std::string>{kHostile});
    EXPECT_TRUE(ShellOpen("https://example.org/jobs?a=1&b=2"));
    EXPECT_EQ(ArgsOf("xdg-open"), std::vector<std::string>{"https://example.org/jobs?a=1&b=2"});
    // Not taken for an option.
    EXPECT_TRUE(ShellOpen("-v.txt"));
    EXPECT_EQ(ArgsOf("xdg-open"), std::vector<std::string>{"./-v.txt"});
}

TEST_F(Shell, OpenFallsBackToTheTextEditor) {
    StandIn("xdg-open", 3); // no handler for this type
    UseEditor(0);
    EXPECT_FALSE(ShellOpen(dir() + "notes.xyz"));
    EXPECT_EQ(ArgsOf("editor"), std::vector<std::string>{dir() + "notes.xyz"});
}

TEST_F(Shell, OpenFailsWithTheTextOnTheClipboard) {
    StandIn("xdg-open", 4);
    UseEditor(1);
    std::string clipboard;
    SetClipboardWriter([&](const std::string& text) {
        clipboard = text;
        return true;
    });
    try {
        ShellOpen("zzz://nowhere");
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(),
                     "Shell command failed. It has been copied to the clipboard.\r\nzzz://nowhere");
    }
    EXPECT_EQ(clipboard, "zzz://nowhere");

    // Without a clipboard, the message does not claim a copy.
    SetClipboardWriter(nullptr);
    ::setenv("QUILLFENCE_TEXT_EDITOR", (dir() + "bin/no-editor").c_str(), 1);
    fs::remove(dir() + "bin/xdg-open"); // no opener installed at all
    try {
        ShellOpen("zzz://nowhere");
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Shell command failed.\r\nzzz://nowhere");
    }
}

TEST_F(Shell, PrintGoesToCupsAndReportsWhetherItWasAccepted) {
    StandIn("lp", 0);
    EXPECT_TRUE(ShellPrint(kHostile));
    EXPECT_EQ(ArgsOf("lp"), (std::vector<std::string>{"-s", kHostile}));
    StandIn("lp", 1); // e.g. a document type CUPS cannot print
    EXPECT_FALSE(ShellPrint(dir() + "cv.doc"));
    fs::remove(dir() + "bin/lp");
    EXPECT_FALSE(ShellPrint(dir() + "cv.doc"));
}

TEST_F(Shell, RunStartsAProgramWithParametersInItsFolder) {
    StandIn("tool", 0);
    fs::create_directories(dir() + "work place");
    EXPECT_GT(ShellRun("tool", {"a b", "$HOME"}, dir() + "work place", ShowMode::Minimized), 32);
    EXPECT_EQ(Lines(Log("tool")), (std::vector<std::string>{dir() + "work place", "a b", "$HOME"}));
    EXPECT_EQ(ShellRun(dir() + "bin/absent", {"x"}, {}, ShowMode::Show), kShellFileNotFound);
    EXPECT_LE(ShellRun("", {}, {}, ShowMode::Show), 32);
}

} // namespace
} // namespace qf
