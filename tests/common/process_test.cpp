#include "common/fileio.h"
#include "common/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qf {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

std::optional<ChildProcess> Start(const std::vector<std::string>& argv,
                                  const SpawnOptions& options = {}) {
    int error = 0;
    auto child = ChildProcess::Start(argv, options, error);
    EXPECT_TRUE(child) << argv[0] << ": error " << error;
    return child;
}

SpawnOptions NewGroup() {
    SpawnOptions options;
    options.newProcessGroup = true;
    options.quiet = true;
    return options;
}

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qf-process-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST(ChildProcess, StartWaitAndExitStatus) {
    int error = 0;
    EXPECT_FALSE(ChildProcess::Start({"/nonexistent/program"}, {}, error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(ChildProcess::Start({}, {}, error));

    auto quick = Start({"/bin/sh", "-c", "exit 7"});
    ASSERT_TRUE(quick);
    EXPECT_TRUE(quick->WaitFor(seconds(10)));
    EXPECT_EQ(quick->ExitStatus(), 7);
    EXPECT_EQ(quick->ExitDescription(), "exit status 7");

    auto slow = Start({"/bin/sleep", "10"}, SpawnOptions{"/", true});
    ASSERT_TRUE(slow);
    EXPECT_FALSE(slow->WaitFor(milliseconds(50)));
    ::kill(slow->Pid(), SIGKILL);
    EXPECT_TRUE(slow->WaitFor(seconds(10)));
    EXPECT_EQ(slow->ExitStatus(), 128 + SIGKILL);
    EXPECT_EQ(slow->ExitDescription(), "signal 9");
}

TEST(ChildProcess, AnEndedChildKeepsItsPidUntilTheObjectGoes) {
    pid_t pid = -1;
    {
        auto child = Start({"/bin/sh", "-c", "exit 0"}, NewGroup());
        ASSERT_TRUE(child);
        pid = child->Pid();
        ASSERT_TRUE(child->WaitFor(seconds(10)));
        // Not collected yet: no other process can be given this pid, nor a
        // group this number, so signalling the group stays safe.
        EXPECT_EQ(::kill(pid, 0), 0);
        child->KillGroup();
        EXPECT_TRUE(child->WaitForGroupExit(seconds(10)));
    }
    // Collected with the object: no zombie is left behind.
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(ChildProcess, AGroupIsKilledWithEveryMemberEvenAfterItsLeaderEnded) {
    // The leader starts a member with a recognisable command line and ends.
    auto child = Start({"/bin/sh", "-c", "sleep 30 & exit 3", "qf-group-marker"}, NewGroup());
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->WaitFor(seconds(10)));
    EXPECT_EQ(child->ExitDescription(), "exit status 3");
    const pid_t group = child->Pid();
    EXPECT_TRUE(ProcessGroupAlive(group));
    EXPECT_FALSE(child->WaitForGroupExit(milliseconds(100)));
    EXPECT_TRUE(ProcessGroupCommandHas(group, "sleep"));
    EXPECT_FALSE(ProcessGroupCommandHas(group, "no-such-command-text"));

    EXPECT_TRUE(child->KillGroupAndWait(seconds(10)));
    EXPECT_FALSE(ProcessGroupAlive(group));
    EXPECT_FALSE(ProcessGroupCommandHas(group, "sleep"));
}

TEST(ChildProcess, KillGroupLeavesAChildWithoutAGroupOfItsOwnAlone) {
    auto child = Start({"/bin/sleep", "30"}, SpawnOptions{{}, true});
    ASSERT_TRUE(child);
    child->KillGroup();
    EXPECT_FALSE(child->WaitFor(milliseconds(200)));
    EXPECT_EQ(::getpgid(child->Pid()), ::getpgrp());
    ::kill(child->Pid(), SIGKILL);
    EXPECT_TRUE(child->WaitFor(seconds(10)));
}

TEST_F(TempFolder, OutputGoesToTheLogFileWithTheGivenFolderAndEnvironment) {
    const std::string log = (dir_ / "child.log").string();
    SpawnOptions options;
    options.folder = dir_.string();
    options.logFile = log;
    options.environment = std::vector<std::string>{"QF_PROBE=given", "PATH=/usr/bin:/bin"};
    const std::vector<std::string> argv = {
        "/bin/sh", "-c",
        "pwd; echo \"${QF_PROBE}-${HOME:-nohome}\"; echo err >&2; read x || echo eof"};
    for (int run = 0; run < 2; ++run) {
        auto child = Start(argv, options);
        ASSERT_TRUE(child);
        ASSERT_TRUE(child->WaitFor(seconds(10)));
        EXPECT_EQ(child->ExitStatus(), 0);
    }
    // Appended, not replaced; standard input was empty; only the given variables.
    const std::string once = dir_.string() + "\ngiven-nohome\nerr\neof\n";
    EXPECT_EQ(ReadFileBytes(log), once + once);
    struct stat st {};
    ASSERT_EQ(::stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(TempFolder, OutputGoesToAGivenDescriptorAndErrorsAreDropped) {
    const std::string path = (dir_ / "out").string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    SpawnOptions options;
    options.standardOutput = fd;
    auto child = Start({"/bin/sh", "-c", "echo out; echo err >&2; read x || echo eof"}, options);
    ::close(fd);
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->WaitFor(seconds(10)));
    EXPECT_EQ(ReadFileBytes(path), "out\neof\n");
}

TEST(ChildProcess, AChildStartsWithDefaultSignalHandling) {
    // This program ignores SIGPIPE (a dropped connection is an error, not the
    // end); a child must not inherit that.
    struct sigaction ignore {};
    struct sigaction old {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(sigaction(SIGPIPE, &ignore, &old), 0);
    auto child = Start({"/bin/sh", "-c", "kill -PIPE $$; exit 0"});
    sigaction(SIGPIPE, &old, nullptr);
    ASSERT_TRUE(child);
    ASSERT_TRUE(child->WaitFor(seconds(10)));
    EXPECT_EQ(child->ExitDescription(), "signal " + std::to_string(SIGPIPE));
}

TEST_F(TempFolder, FindProgramOnPathTakesTheFirstExecutableFileAndNeverTheCurrentFolder) {
    fs::create_directories(dir_ / "a");
    fs::create_directories(dir_ / "b");
    fs::create_directories(dir_ / "b" / "qf-folder");
    WriteFileAtomic((dir_ / "a" / "qf-data").string(), "data", 0644);
    WriteFileAtomic((dir_ / "b" / "qf-data").string(), "#!/bin/sh\n", 0755);
    WriteFileAtomic((dir_ / "b" / "qf-tool").string(), "#!/bin/sh\n", 0755);
    WriteFileAtomic((dir_ / "qf-here").string(), "#!/bin/sh\n", 0755);
    const char* saved = std::getenv("PATH");
    const std::string oldPath = saved != nullptr ? saved : "";
    const fs::path oldCwd = fs::current_path();
    fs::current_path(dir_);
    ::setenv("PATH",
             (":/nonexistent:" + (dir_ / "a").string() + ":" + (dir_ / "b").string()).c_str(), 1);
    EXPECT_EQ(FindProgramOnPath("qf-tool"), (dir_ / "b" / "qf-tool").string());
    EXPECT_EQ(FindProgramOnPath("qf-data"), (dir_ / "b" / "qf-data").string());
    EXPECT_EQ(FindProgramOnPath("qf-folder"), "");
    EXPECT_EQ(FindProgramOnPath("qf-here"), "");
    EXPECT_EQ(FindProgramOnPath(""), "");
    ::setenv("PATH", oldPath.c_str(), 1);
    fs::current_path(oldCwd);
}

} // namespace
} // namespace qf
