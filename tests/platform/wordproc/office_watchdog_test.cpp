#include "platform/wordproc/office_watchdog.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace qf::wordproc {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Waits up to a few seconds for `done`.
template <class F> bool Eventually(F done) {
    auto until = Clock::now() + 5s;
    while (!done()) {
        if (Clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(OfficeWatchdog, RunsTheStopActionOnceTheDeadlinePasses) {
    OfficeWatchdog watchdog;
    std::atomic<int> stops{0};
    auto start = Clock::now();
    watchdog.Arm(50ms, [&] { ++stops; });
    EXPECT_FALSE(watchdog.Expired());
    ASSERT_TRUE(Eventually([&] { return watchdog.Expired(); }));
    EXPECT_GE(Clock::now() - start, 50ms);
    EXPECT_EQ(stops.load(), 1);
    // Expired stays after Disarm (the failed call reads it afterwards), and
    // the action does not run again.
    watchdog.Disarm();
    EXPECT_TRUE(watchdog.Expired());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(stops.load(), 1);
    // A new deadline starts afresh.
    watchdog.Arm(10s, [&] { ++stops; });
    EXPECT_FALSE(watchdog.Expired());
    watchdog.Disarm();
}

TEST(OfficeWatchdog, DisarmOrANewArmCancelsThePendingAction) {
    OfficeWatchdog watchdog;
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    watchdog.Arm(100ms, [&] { ++first; });
    watchdog.Disarm();
    watchdog.Arm(150ms, [&] { ++first; });
    watchdog.Arm(50ms, [&] { ++second; });
    ASSERT_TRUE(Eventually([&] { return watchdog.Expired(); }));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(first.load(), 0);
    EXPECT_EQ(second.load(), 1);
}

TEST(OfficeWatchdog, DisarmWaitsForAStopActionThatIsRunning) {
    OfficeWatchdog watchdog;
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    watchdog.Arm(10ms, [&] {
        started = true;
        std::this_thread::sleep_for(200ms);
        finished = true;
    });
    ASSERT_TRUE(Eventually([&] { return started.load(); }));
    watchdog.Disarm();
    // What the action used may go now.
    EXPECT_TRUE(finished.load());
}

TEST(OfficeWatchdog, GoesQuietlyWithAnArmedDeadline) {
    std::atomic<int> stops{0};
    {
        OfficeWatchdog watchdog;
        watchdog.Arm(10s, [&] { ++stops; });
    }
    EXPECT_EQ(stops.load(), 0);
}

TEST(OfficeWatchdog, SecondsTextDropsAZeroFraction) {
    EXPECT_EQ(SecondsText(std::chrono::seconds(4)), "4");
    EXPECT_EQ(SecondsText(std::chrono::milliseconds(2500)), "2.5");
    EXPECT_EQ(SecondsText(std::chrono::milliseconds(60000)), "60");
}

} // namespace
} // namespace qf::wordproc
