// Real LibreOffice instances side by side: the same texts as one instance, a
// hang or a crash in one leaves the other's documents alone, and no office
// process outlives the pool.
#include "common/process.h"
#include "office_fixture.h"
#include "platform/wordproc/office_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>

namespace qf::wordproc::testing {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

std::string TextOf(WordProcessor& wp, const fs::path& path) {
    DocumentId doc = wp.Open(path.string(), "tqmzv", "tqmzv");
    std::string text = wp.WholeText(doc);
    wp.Close(doc);
    return text;
}

// Processes whose command line names `dir` (the profiles of the test's
// instances are inside it).
int ProcessesUsing(const fs::path& dir) {
    int n = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        n += cmdline.find(dir.string()) != std::string::npos ? 1 : 0;
    }
    return n;
}

// Holds the first job's instance until a job on another instance has ended,
// so that the test knows two instances served side by side.
class OtherInstanceLatch {
public:
    void Wait() {
        std::unique_lock lock(mutex_);
        passed_ = changed_.wait_for(lock, 60s, [this] { return done_; });
    }
    void Done() {
        std::lock_guard lock(mutex_);
        done_ = true;
        changed_.notify_all();
    }
    bool Passed() const { return passed_; }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    bool passed_ = false;
};

TEST(OfficePool, TwoInstancesGiveTheTextsOfOneAndNoOfficeOutlivesThePool) {
    TempDir dir;
    LibreOfficeOptions options = TestOptions(dir.path());
    options.instances = 2;
    LibreOffice first(options);
    ASSERT_TRUE(first.Connect());
    auto docs = MakeDocuments(first, dir.path());
    const std::vector<std::string> kinds = {"html", "odt", "doc", "docx", "rtf"};
    std::map<std::string, std::string> expected;
    for (const auto& kind : kinds) {
        expected[kind] = TextOf(first, docs.at(kind));
        EXPECT_THAT(expected[kind], HasSubstr(kBodyWords)) << kind;
    }

    {
        WordProcessorPool pool(first, first.InstanceLimit());
        OtherInstanceLatch latch;
        std::atomic<WordProcessor*> held{nullptr};
        std::vector<std::string> texts(3 * kinds.size());
        std::vector<std::future<void>> done;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const fs::path path = docs.at(kinds[i % kinds.size()]);
            done.push_back(pool.Submit([&, i, path](WordProcessor& wp) {
                if (i == 0) {
                    held = &wp;
                    latch.Wait();
                }
                texts[i] = TextOf(wp, path);
                if (i != 0 && held != &wp) {
                    latch.Done();
                }
            }));
        }
        for (auto& d : done) {
            d.get();
        }
        EXPECT_TRUE(latch.Passed()) << "the second instance converted nothing";
        EXPECT_EQ(pool.Instances(), 2);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(texts[i], expected[kinds[i % kinds.size()]]) << i;
        }
        // The pool quits the instance it started; the first is the caller's.
        pool.Shutdown();
        EXPECT_TRUE(ProcessGroupAlive(first.OfficeProcessGroup()));
    }
    first.Quit();
    EXPECT_EQ(ProcessesUsing(dir.path()), 0);
    EXPECT_TRUE(fs::is_empty(dir.path() / "profiles"));
}

TEST(OfficePool, AHangOrACrashInOneInstanceLeavesTheOthersDocumentsAlone) {
    TempDir dir;
    LibreOfficeOptions options = TestOptions(dir.path());
    options.instances = 2;
    options.deadline = 4s;
    LibreOffice first(options);
    ASSERT_TRUE(first.Connect());
    auto docs = MakeDocuments(first, dir.path());
    first.InstallBasicModule("Standard", "QfHang", "Sub Spin(doc)\n  Do\n  Loop\nEnd Sub\n");

    WordProcessorPool pool(first, 2);
    // The first job hangs in the first instance until its deadline; the
    // documents after it convert in the other one meanwhile.
    std::string hang;
    std::vector<std::future<void>> done;
    done.push_back(pool.Submit([&](WordProcessor& wp) {
        DocumentId doc = wp.Open(docs.at("docx").string(), "tqmzv", "tqmzv");
        try {
            wp.RunMacro(doc, "Spin");
            hang = "returned";
        } catch (const WordProcessorError& e) {
            hang = e.failure() == Failure::Timeout ? "timeout" : e.what();
        }
        wp.Close(doc);
    }));
    std::vector<std::string> texts(8);
    std::string crash;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        done.push_back(pool.Submit([&, i](WordProcessor& wp) {
            if (i == 3) {
                // Killed under its document: that document ends, the next works.
                DocumentId doc = wp.Open(docs.at("rtf").string(), "tqmzv", "tqmzv");
                ::kill(-static_cast<LibreOffice&>(wp).OfficeProcessGroup(), SIGKILL);
                try {
                    wp.WholeText(doc);
                    crash = "text";
                } catch (const WordProcessorError& e) {
                    crash = e.failure() == Failure::OfficeDied ? "died" : e.what();
                }
                wp.Close(doc);
            }
            texts[i] = TextOf(wp, docs.at(i % 2 ? "odt" : "doc"));
        }));
    }
    for (auto& d : done) {
        d.get();
    }
    EXPECT_EQ(hang, "timeout");
    EXPECT_EQ(crash, "died");
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_THAT(texts[i], HasSubstr(kBodyWords)) << i;
    }
    EXPECT_EQ(pool.Instances(), 2);
    pool.Shutdown();
    first.Quit();
    EXPECT_EQ(ProcessesUsing(dir.path()), 0);
}

} // namespace
} // namespace qf::wordproc::testing
