// The pool starts further instances only when documents wait, never more than
// its size or memory allows, keeps going without one that cannot start, and
// quits what it started but not the instance it was given.
#include "platform/wordproc/office_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <stdexcept>

namespace qf::wordproc {
namespace {

using namespace std::chrono_literals;

// An instance that converts nothing; the pool only hands it to jobs.
class StubInstance : public WordProcessor {
public:
    struct Shared {
        std::mutex mutex;
        int made = 0, quits = 0;
        bool furtherCannotStart = false;
    };
    explicit StubInstance(std::shared_ptr<Shared> shared, bool further = false)
        : shared_(std::move(shared)), further_(further) {}

    bool Connect() override {
        if (further_ && shared_->furtherCannotStart) {
            throw WordProcessorError(Failure::NotAvailable, "LibreOffice did not start");
        }
        return true;
    }
    bool Started() const override { return true; }
    void Hide() override {}
    DocumentId Open(const std::string&, const std::string&, const std::string&) override {
        return {};
    }
    StepOutcome ClearMailMerge(DocumentId) override { return StepOutcome::NotNeeded; }
    StepOutcome Unprotect(DocumentId, const std::string&) override {
        return StepOutcome::NotNeeded;
    }
    void RunMacro(DocumentId, const std::string&) override {}
    std::string WholeText(DocumentId) override { return {}; }
    void Close(DocumentId) override {}
    void Quit() override {
        std::lock_guard lock(shared_->mutex);
        ++shared_->quits;
    }
    std::unique_ptr<WordProcessor> NewInstance() override {
        std::lock_guard lock(shared_->mutex);
        ++shared_->made;
        return std::make_unique<StubInstance>(shared_, true);
    }

private:
    std::shared_ptr<Shared> shared_;
    bool further_;
};

// Jobs that hold their instance until released, noting which instances ran
// at the same time.
class Gate {
public:
    WordProcessorPool::Job Job() {
        return [this](WordProcessor& wp) {
            std::unique_lock lock(mutex_);
            instances_.insert(&wp);
            ++running_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
            --running_;
            ++done_;
            changed_.notify_all();
        };
    }
    bool WaitRunning(int n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return running_ == n; });
    }
    bool WaitDone(int n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return done_ == n; });
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    std::set<WordProcessor*> Instances() {
        std::lock_guard lock(mutex_);
        return instances_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<WordProcessor*> instances_;
    int running_ = 0, done_ = 0;
    bool open_ = false;
};

TEST(WordProcessorPool, AFreeInstanceTakesTheNextDocumentAndNoFurtherOneStarts) {
    auto shared = std::make_shared<StubInstance::Shared>();
    StubInstance first(shared);
    WordProcessorPool pool(first, 4, [] { return true; });
    for (int i = 0; i < 3; ++i) {
        WordProcessor* ran = nullptr;
        std::future<void> done = pool.Submit([&ran](WordProcessor& wp) { ran = &wp; });
        ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
        EXPECT_EQ(ran, &first);
    }
    // What a job throws reaches its future.
    std::future<void> failed =
        pool.Submit([](WordProcessor&) { throw std::runtime_error("no text"); });
    EXPECT_THROW(failed.get(), std::runtime_error);
    EXPECT_EQ(pool.Instances(), 1);
    pool.Shutdown();
    EXPECT_EQ(shared->made, 0);
    // The instance it was given is the caller's to quit.
    EXPECT_EQ(shared->quits, 0);
}

TEST(WordProcessorPool, WaitingDocumentsStartFurtherInstancesUpToTheSizeAndTheyAreQuit) {
    auto shared = std::make_shared<StubInstance::Shared>();
    StubInstance first(shared);
    Gate gate;
    {
        WordProcessorPool pool(first, 3, [] { return true; });
        for (int i = 0; i < 5; ++i) {
            pool.Submit(gate.Job());
        }
        // Three side by side, the other two waiting for a free instance.
        ASSERT_TRUE(gate.WaitRunning(3));
        EXPECT_EQ(pool.Instances(), 3);
        EXPECT_EQ(shared->made, 2);
        gate.Open();
        ASSERT_TRUE(gate.WaitDone(5));
        EXPECT_EQ(gate.Instances().size(), 3u);
        EXPECT_TRUE(gate.Instances().contains(&first));
    }
    EXPECT_EQ(shared->made, 2);
    EXPECT_EQ(shared->quits, 2);
}

TEST(WordProcessorPool, WithoutMemoryOrWhenAnInstanceCannotStartTheOthersServe) {
    for (const bool cannotStart : {false, true}) {
        SCOPED_TRACE(cannotStart ? "cannot start" : "no memory");
        auto shared = std::make_shared<StubInstance::Shared>();
        shared->furtherCannotStart = cannotStart;
        StubInstance first(shared);
        Gate gate;
        WordProcessorPool pool(first, 2, [cannotStart] { return cannotStart; });
        for (int i = 0; i < 4; ++i) {
            pool.Submit(gate.Job());
        }
        ASSERT_TRUE(gate.WaitRunning(1));
        gate.Open();
        ASSERT_TRUE(gate.WaitDone(4));
        pool.Shutdown();
        EXPECT_EQ(gate.Instances(), std::set<WordProcessor*>{&first});
        EXPECT_EQ(pool.Instances(), 1);
        // An instance that did not start is not tried again.
        EXPECT_EQ(shared->made, cannotStart ? 1 : 0);
        EXPECT_EQ(pool.StartFailure(), cannotStart ? "LibreOffice did not start" : "");
    }
}

TEST(WordProcessorPool, ShutdownWaitsForTheDocumentsInHandAndDropsTheRest) {
    auto shared = std::make_shared<StubInstance::Shared>();
    StubInstance first(shared);
    Gate gate;
    WordProcessorPool pool(first, 1, [] { return true; });
    std::atomic<int> later{0};
    pool.Submit(gate.Job());
    ASSERT_TRUE(gate.WaitRunning(1));
    for (int i = 0; i < 3; ++i) {
        pool.Submit([&later](WordProcessor&) { ++later; });
    }
    auto shutdown = std::async(std::launch::async, [&pool] { pool.Shutdown(); });
    // Shutdown has emptied the queue by now and waits for the job in hand.
    EXPECT_EQ(shutdown.wait_for(500ms), std::future_status::timeout);
    gate.Open();
    ASSERT_EQ(shutdown.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(gate.WaitDone(1));
    // The three waiting were dropped, and a job submitted now is refused.
    EXPECT_EQ(later, 0);
    std::future<void> refused = pool.Submit([&later](WordProcessor&) { ++later; });
    EXPECT_THROW(refused.get(), std::future_error);
    EXPECT_EQ(later, 0);
}

TEST(DefaultInstanceCount, OnePerCoreUnlessTheEnvironmentSetsAValidCount) {
    ::unsetenv("QUILLFENCE_OFFICE_INSTANCES");
    const int perCore = DefaultInstanceCount();
    EXPECT_GE(perCore, 1);
    EXPECT_LE(perCore, kMaxInstances);
    for (const char* bad : {"0", "-1", "9", "2x", ""}) {
        ::setenv("QUILLFENCE_OFFICE_INSTANCES", bad, 1);
        EXPECT_EQ(DefaultInstanceCount(), perCore) << bad;
    }
    ::setenv("QUILLFENCE_OFFICE_INSTANCES", "1", 1);
    EXPECT_EQ(DefaultInstanceCount(), 1);
    ::setenv("QUILLFENCE_OFFICE_INSTANCES", "3", 1);
    EXPECT_EQ(DefaultInstanceCount(), 3);
    ::unsetenv("QUILLFENCE_OFFICE_INSTANCES");
}

} // namespace
} // namespace qf::wordproc
