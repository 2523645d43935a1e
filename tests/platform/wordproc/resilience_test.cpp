// An instance that hangs on a document, or dies under it, is replaced and the
// next document converts.
#include "office_fixture.h"
#include "platform/wordproc/office_process.h"

#include <chrono>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qf::wordproc::testing {
namespace {

using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

std::string Convert(WordProcessor& wp, const fs::path& path) {
    DocumentId doc = wp.Open(path.string(), "tqmzv", "tqmzv");
    std::string text = wp.WholeText(doc);
    wp.Close(doc);
    return text;
}

TEST(LibreOfficeResilience, AHangingMacroHitsTheDeadlineAndTheNextDocumentWorks) {
    TempDir dir;
    LibreOffice office(TestOptions(dir.path()));
    ASSERT_TRUE(office.Connect());
    auto docs = MakeDocuments(office, dir.path());
    office.InstallBasicModule("Standard", "QfHang", "Sub Spin(doc)\n  Do\n  Loop\nEnd Sub\n");
    pid_t first = office.OfficeProcessGroup();
    office.SetDeadline(std::chrono::seconds(4));

    DocumentId doc = office.Open(docs.at("docx").string(), "tqmzv", "tqmzv");
    auto start = Clock::now();
    try {
        office.RunMacro(doc, "Spin");
        FAIL() << "the endless macro returned";
    } catch (const WordProcessorError& e) {
        EXPECT_EQ(e.failure(), Failure::Timeout) << e.what();
        EXPECT_TRUE(e.EndsDocument());
        EXPECT_THAT(e.what(), HasSubstr("within 4 s"));
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(ProcessGroupAlive(first));
    EXPECT_EQ(office.Restarts(), 1);
    // Later steps on the lost document give the same reason; closing it is harmless.
    try {
        office.WholeText(doc);
        ADD_FAILURE() << "text from a document whose instance was killed";
    } catch (const WordProcessorError& e) {
        EXPECT_EQ(e.failure(), Failure::Timeout);
    }
    office.Close(doc);

    office.SetDeadline(std::chrono::seconds(60));
    EXPECT_THAT(Convert(office, docs.at("doc")), HasSubstr(kBodyWords));
    office.Quit();
}

TEST(LibreOfficeResilience, AKilledInstanceIsDetectedAndReplaced) {
    TempDir dir;
    LibreOffice office(TestOptions(dir.path()));
    ASSERT_TRUE(office.Connect());
    auto docs = MakeDocuments(office, dir.path());

    // Killed between documents: the next document finds it gone.
    pid_t group = office.OfficeProcessGroup();
    ::kill(-group, SIGKILL);
    EXPECT_THAT(Convert(office, docs.at("odt")), HasSubstr(kBodyWords));
    EXPECT_EQ(office.Restarts(), 1);
    EXPECT_NE(office.OfficeProcessGroup(), group);

    // Killed while a document is open: that document ends, the next works.
    DocumentId doc = office.Open(docs.at("rtf").string(), "tqmzv", "tqmzv");
    group = office.OfficeProcessGroup();
    ::kill(-group, SIGKILL);
    try {
        office.WholeText(doc);
        FAIL() << "text from a killed instance";
    } catch (const WordProcessorError& e) {
        EXPECT_EQ(e.failure(), Failure::OfficeDied) << e.what();
    }
    office.Close(doc);
    EXPECT_THAT(Convert(office, docs.at("docx")), HasSubstr(kBodyWords));
    EXPECT_EQ(office.Restarts(), 2);

    group = office.OfficeProcessGroup();
    office.Quit();
    EXPECT_FALSE(ProcessGroupAlive(group));
}

TEST(LibreOfficeResilience, AnInstanceGoesWithTheProcessThatStartedItWhenThatIsTerminated) {
    TempDir dir;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        pid_t group = -1;
        try {
            LibreOffice office(TestOptions(dir.path()));
            office.Connect();
            group = office.OfficeProcessGroup();
            if (::write(fds[1], &group, sizeof group) != sizeof group) {
                ::_exit(2);
            }
            for (;;) {
                ::pause();
            }
        } catch (...) {
            ::_exit(3);
        }
    }
    ::close(fds[1]);
    pid_t group = -1;
    ssize_t got = ::read(fds[0], &group, sizeof group);
    ::close(fds[0]);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof group));
    EXPECT_TRUE(ProcessGroupAlive(group));

    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    auto until = Clock::now() + std::chrono::seconds(10);
    while (ProcessGroupAlive(group) && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(ProcessGroupAlive(group));
}

TEST(LibreOfficeResilience, AnInstanceLeftByAKilledRunIsStoppedByTheNextOne) {
    TempDir dir;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        try {
            auto* office = new LibreOffice(TestOptions(dir.path())); // never destroyed
            office->Connect();
            pid_t group = office->OfficeProcessGroup();
            if (::write(fds[1], &group, sizeof group) != sizeof group) {
                ::_exit(2);
            }
            for (;;) {
                ::pause();
            }
        } catch (...) {
            ::_exit(3);
        }
    }
    ::close(fds[1]);
    pid_t group = -1;
    ssize_t got = ::read(fds[0], &group, sizeof group);
    ::close(fds[0]);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof group));
    // SIGKILL: no handler, no destructor.
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(ProcessGroupAlive(group));

    LibreOffice next(TestOptions(dir.path()));
    EXPECT_TRUE(next.Connect());
    EXPECT_FALSE(ProcessGroupAlive(group));
    std::size_t profiles = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path() / "profiles")) {
        ++profiles;
    }
    EXPECT_EQ(profiles, 1u);
    next.Quit();
}

} // namespace
} // namespace qf::wordproc::testing
