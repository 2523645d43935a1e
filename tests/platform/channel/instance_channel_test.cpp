#include "platform/channel/instance_channel.h"

#include "platform/channel/execute_text.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qf::channel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void ProcessEventsFor(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// Runs `work` on another thread while this one serves events, then lets the
// server hand over what it took.
template <typename Fn> auto WhileServing(Fn work) {
    auto future = std::async(std::launch::async, work);
    while (future.wait_for(0ms) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ProcessEventsFor(50ms);
    return future.get();
}

class InstanceChannelTest : public ::testing::Test {
protected:
    InstanceChannelTest() {
        std::string pattern = (fs::temp_directory_path() / "qfchan.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        dir_ = pattern;
        socket_ = SocketPath(dir_.string(), "quillfence");
    }
    ~InstanceChannelTest() override { fs::remove_all(dir_); }

    std::unique_ptr<InstanceServer> Serve() {
        auto server = std::make_unique<InstanceServer>(socket_);
        server->onExecute = [this](const std::string& text) { received_.push_back(text); };
        std::string error;
        EXPECT_TRUE(server->Listen(error)) << error;
        return server;
    }
    // Sends raw bytes and returns the server's answer.
    std::string SendRaw(const std::string& bytes) {
        return WhileServing([&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_.c_str());
            std::string answer;
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                (void)!::write(fd, bytes.data(), bytes.size());
                ::shutdown(fd, SHUT_WR);
                char buf[64];
                ssize_t n = 0;
                while ((n = ::read(fd, buf, sizeof buf)) > 0) {
                    answer.append(buf, static_cast<std::size_t>(n));
                }
            }
            ::close(fd);
            return answer;
        });
    }

    fs::path dir_;
    std::string socket_;
    std::vector<std::string> received_;
};

TEST_F(InstanceChannelTest, ServiceNameIsTheFileNameUpToItsFirstDot) {
    EXPECT_EQ(ServiceName("/usr/lib/quillfence/quillfence"), "quillfence");
    EXPECT_EQ(ServiceName("/opt/x.y/Quillfence.exe.old"), "Quillfence");
    EXPECT_EQ(SocketPath("/run/user/7", "quillfence"), "/run/user/7/quillfence.AppDDE");
}

TEST_F(InstanceChannelTest, ATextSentReachesTheServerOnce) {
    auto server = Serve();
    const std::string text = FileOpenCommand("/home/a b/jobs.qfo");
    EXPECT_EQ(WhileServing([&] { return SendExecute(socket_, text); }), SendResult::Delivered);
    EXPECT_EQ(received_, std::vector<std::string>{text});
    // The socket is the owner's only.
    struct stat st {};
    ASSERT_EQ(::lstat(socket_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST_F(InstanceChannelTest, NoServerMeansNoInstanceAndAClosedServerRemovesItsSocket) {
    EXPECT_EQ(SendExecute(socket_, "x"), SendResult::NoInstance);
    Serve().reset();
    EXPECT_FALSE(fs::exists(socket_));
}

TEST_F(InstanceChannelTest, AStaleSocketIsNoInstanceAndIsReplaced) {
    // A socket left behind by an instance that crashed: bound, never removed.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_TRUE(fs::exists(socket_));
    EXPECT_EQ(SendExecute(socket_, "x", 500), SendResult::NoInstance);

    auto server = Serve();
    ASSERT_TRUE(server->Listening());
    EXPECT_EQ(WhileServing([&] { return SendExecute(socket_, "hello"); }), SendResult::Delivered);
    EXPECT_EQ(received_, std::vector<std::string>{"hello"});
}

TEST_F(InstanceChannelTest, ASecondServerDoesNotTakeOverALiveOne) {
    auto first = Serve();
    InstanceServer second(socket_);
    std::string error;
    EXPECT_FALSE(WhileServing([&] { return second.Listen(error); }));
    EXPECT_NE(error.find("another instance"), std::string::npos) << error;
    EXPECT_EQ(WhileServing([&] { return SendExecute(socket_, "still"); }), SendResult::Delivered);
    EXPECT_EQ(received_, std::vector<std::string>{"still"});
}

TEST_F(InstanceChannelTest, OversizedOrBrokenTextsAreRefusedAndTheServerGoesOn) {
    auto server = Serve();
    // A length over the limit is refused before anything is read.
    EXPECT_EQ(SendRaw(std::string("\x00\x10\x00\x00", 4) + "[FileOpen(\"/x\")]"), "refused\n");
    // A frame shorter than its length, and a lone partial header.
    EXPECT_EQ(SendRaw(std::string("\x00\x00\x00\x50", 4) + "short"), "");
    EXPECT_EQ(SendRaw("\x01"), "");
    EXPECT_EQ(SendExecute(socket_, std::string(kMaxExecuteText + 1, 'x')), SendResult::Refused);
    EXPECT_TRUE(received_.empty());
    EXPECT_EQ(WhileServing([&] { return SendExecute(socket_, "after"); }), SendResult::Delivered);
    EXPECT_EQ(received_, std::vector<std::string>{"after"});
}

TEST_F(InstanceChannelTest, ASocketOfAnotherUserIsNeverUsed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to start the second instance as another user";
    }
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr || ::access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "no user 'nobody' or no setpriv";
    }
    // The folder must be reachable by the other user for the test to mean
    // anything: open it up, and give the probe a copy it may run.
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const fs::path probe = dir_ / "channel_probe";
    fs::copy_file(fs::path(std::getenv("QF_BUILD_DIR")) / "tests/channel_probe", probe);
    auto server = Serve();
    auto runAsNobody = [&](const char* mode) {
        const std::string cmd = "setpriv --reuid=" + std::to_string(nobody->pw_uid) +
                                " --regid=" + std::to_string(nobody->pw_gid) + " --clear-groups " +
                                probe.string() + " " + mode + " '" + socket_ +
                                "' '[FileOpen(\"/tmp/evil.qfo\")]' 2>/dev/null";
        return WhileServing([&] { return WEXITSTATUS(std::system(cmd.c_str())); });
    };
    EXPECT_EQ(runAsNobody("send"), static_cast<int>(SendResult::NotOwned));
    // Even ignoring every check, the other user cannot get a text through.
    EXPECT_NE(runAsNobody("raw"), 0);
    EXPECT_TRUE(received_.empty());
    // The owner still can.
    EXPECT_EQ(WhileServing([&] { return SendExecute(socket_, "mine"); }), SendResult::Delivered);
}

TEST_F(InstanceChannelTest, TheRuntimeFolderIsPrivate) {
    const std::string folder = RuntimeFolder();
    ASSERT_FALSE(folder.empty());
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 077, 0u);
    // A runtime folder others may enter is not used.
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::others_exec);
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    EXPECT_NE(RuntimeFolder(), dir_.string());
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(RuntimeFolder(), dir_.string());
    ::unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
} // namespace qf::channel
