// The office's process group and private profiles, with stand-in processes:
// no LibreOffice is needed to see that a group goes with everything in it and
// that only what a dead run left behind is cleaned up.
#include "office_fixture.h"

#include "common/error.h"
#include "common/fileio.h"
#include "platform/wordproc/office_process.h"
#include "platform/wordproc/office_profile.h"
#include "platform/wordproc/word_processor.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qf::wordproc {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

class OfficeGroup : public ::testing::Test {
protected:
    // Waits until `path` exists (the stand-in made it).
    static bool Appears(const fs::path& path) {
        for (int i = 0; i < 500 && !fs::exists(path); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return fs::exists(path);
    }

    // A stand-in office: a launcher that starts a member, makes its leftover
    // file and waits.
    std::vector<std::string> StandIn(const fs::path& leftover) const {
        return {"/bin/sh", "-c", "echo started; sleep 30 & touch \"$0\"; wait", leftover.string()};
    }

    testing::TempDir temp_;
    const fs::path& dir_ = temp_.path();
};

TEST_F(OfficeGroup, KillAndWaitStopsEveryMemberAndRemovesTheLeftover) {
    const fs::path leftover = dir_ / "socket";
    OfficeProcess office(StandIn(leftover), (dir_ / "office.log").string(), leftover.string());
    ASSERT_TRUE(Appears(leftover));
    const pid_t group = office.pid();
    EXPECT_TRUE(office.Running());
    EXPECT_TRUE(ProcessGroupAlive(group));
    EXPECT_TRUE(ProcessGroupCommandHas(group, "sleep"));

    office.KillAndWait();
    EXPECT_FALSE(office.Running());
    EXPECT_EQ(office.ExitDescription(), "signal 9");
    EXPECT_FALSE(ProcessGroupAlive(group));
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_EQ(ReadFileBytes((dir_ / "office.log").string()), "started\n");
}

TEST_F(OfficeGroup, TheGroupGoesWithTheObjectAndWithKillStartedOffices) {
    pid_t group = -1;
    {
        OfficeProcess office(StandIn(dir_ / "first"), "/dev/null");
        ASSERT_TRUE(Appears(dir_ / "first"));
        group = office.pid();
    }
    EXPECT_FALSE(ProcessGroupAlive(group));

    // What a fatal-signal handler does: every started group, at once.
    const fs::path leftover = dir_ / "second";
    OfficeProcess office(StandIn(leftover), "/dev/null", leftover.string());
    ASSERT_TRUE(Appears(leftover));
    KillStartedOffices();
    EXPECT_TRUE(office.WaitForGroupExit(10s));
    EXPECT_FALSE(fs::exists(leftover));
}

TEST_F(OfficeGroup, AProgramThatCannotStartNamesItself) {
    try {
        OfficeProcess office({(dir_ / "no-soffice").string()}, "/dev/null");
        FAIL() << "started a missing program";
    } catch (const Error& e) {
        EXPECT_THAT(e.what(), HasSubstr("Cannot start"));
        EXPECT_THAT(e.what(), HasSubstr("no-soffice"));
    }
}

// A pid that was in use and is no more.
pid_t DeadPid() {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    return pid;
}

std::optional<ChildProcess> StartGroup(const std::vector<std::string>& argv) {
    SpawnOptions options;
    options.quiet = true;
    options.newProcessGroup = true;
    int error = 0;
    return ChildProcess::Start(argv, options, error);
}

TEST_F(OfficeGroup, StaleProfilesAreStoppedAndRemovedAndOnlyThose) {
    const fs::path parent = dir_ / "profiles";
    const fs::path orphan = parent / "office-orphan";
    const fs::path reused = parent / "office-reused";
    const fs::path live = parent / "office-live";
    const fs::path unfinished = parent / "office-unfinished";
    for (const auto& p : {orphan, reused, live, unfinished}) {
        fs::create_directories(p / "user");
    }
    // An instance whose run was killed: its command line names its profile.
    auto orphanGroup = StartGroup({"/bin/sh", "-c", "sleep 30 & wait", orphan.string()});
    // A group whose number the owner file names, but that runs something else.
    auto stranger = StartGroup({"/bin/sh", "-c", "sleep 30 & wait"});
    ASSERT_TRUE(orphanGroup && stranger);
    const std::string pipe = "quillfence-test-" + std::to_string(::getpid());
    WriteFileAtomic(PipeSocketPath(pipe), "");
    WriteFileAtomic((orphan / "owner").string(), std::to_string(DeadPid()) + " " +
                                                     std::to_string(orphanGroup->Pid()) + " " +
                                                     pipe + "\n");
    WriteFileAtomic((reused / "owner").string(),
                    std::to_string(DeadPid()) + " " + std::to_string(stranger->Pid()) + " x\n");
    RecordProfileOwner(live.string(), stranger->Pid(), "y"); // this process is its starter
    ASSERT_TRUE(ProcessGroupCommandHas(orphanGroup->Pid(), orphan.string()));

    RemoveStaleProfiles(parent.string());

    EXPECT_TRUE(orphanGroup->WaitForGroupExit(10s));
    EXPECT_FALSE(fs::exists(orphan));
    EXPECT_FALSE(fs::exists(PipeSocketPath(pipe)));
    // The stranger is left running; the profile is still stale.
    EXPECT_FALSE(stranger->WaitForGroupExit(100ms));
    EXPECT_FALSE(fs::exists(reused));
    // A live run's profile, and one still being set up, stay.
    EXPECT_TRUE(fs::exists(live / "owner"));
    EXPECT_TRUE(fs::exists(unfinished / "user"));
    stranger->KillGroupAndWait(10s);
}

TEST_F(OfficeGroup, APrivateProfileIsMadeBesideOthersAndRemoved) {
    const std::string parent = (dir_ / "deep" / "profiles").string();
    const std::string first = CreatePrivateProfile(parent);
    const std::string second = CreatePrivateProfile(parent);
    EXPECT_NE(first, second);
    for (const auto& p : {first, second}) {
        EXPECT_EQ(fs::path(p).parent_path(), fs::path(parent));
        EXPECT_THAT(fs::path(p).filename().string(), ::testing::StartsWith("office-"));
        EXPECT_THAT(ReadFileBytes(p + "/user/registrymodifications.xcu"),
                    HasSubstr("BlockUntrustedRefererLinks"));
    }
    RemovePrivateProfile(first);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_TRUE(fs::exists(second));

    // A parent that cannot be made is reported as the office not being available.
    WriteFileAtomic((dir_ / "file").string(), "");
    try {
        CreatePrivateProfile((dir_ / "file" / "profiles").string());
        FAIL() << "made a profile under a file";
    } catch (const WordProcessorError& e) {
        EXPECT_EQ(e.failure(), Failure::NotAvailable);
        EXPECT_THAT(e.what(), HasSubstr("profile folder"));
    }
}

} // namespace
} // namespace qf::wordproc
