#include "pacing/clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

// Bounds are generous on purpose: a busy two-core machine may stall a process
// for tens of milliseconds, so only "not too early" is tight.
namespace {
constexpr std::int64_t ms = 1'000'000;

std::int64_t timed_wait(std::int64_t ns)
{
    const std::int64_t start = clock_ns();
    pace_wait(ns);
    return clock_ns() - start;
}
} // namespace

TEST(Clock, NeverGoesBackwards)
{
    std::int64_t previous = clock_ns();
    for (int i = 0; i < 100000; ++i) {
        const std::int64_t now = clock_ns();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(PaceWait, WaitsAtLeastTheIntervalOnBothSidesOfTheSleepThreshold)
{
    struct Case { std::int64_t ns; std::int64_t at_least; };
    for (Case c : {Case{250 * ms, 250 * ms}, Case{16 * ms, 16 * ms},
                   Case{17 * ms + 999'999, 17 * ms},  // sleeps whole milliseconds, truncated
                   Case{16 * ms - 1, 16 * ms - 1}, Case{1 * ms, 1 * ms}, Case{10'000, 10'000}}) {
        const std::int64_t took = timed_wait(c.ns);
        EXPECT_GE(took, c.at_least) << c.ns;
        EXPECT_LT(took, c.ns + 200 * ms) << c.ns;
    }
}

TEST(PaceWait, ZeroAndNegativeReturnAtOnce)
{
    for (std::int64_t ns : {std::int64_t{0}, std::int64_t{-5}, std::int64_t{-1'000'000'000}})
        EXPECT_LT(timed_wait(ns), 50 * ms) << ns;
}

#if defined(__linux__)
// The timer slack belongs to each thread: every thread that sleeps must get
// prompt wake-ups, not only the first one.
TEST(PaceWait, ASleepingThreadAsksForPromptWakeups)
{
    auto slack_after_a_sleep = [] {
        prctl(PR_SET_TIMERSLACK, 50'000UL, 0UL, 0UL, 0UL);
        pace_wait(16 * ms);
        return prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
    };
    int first = 0, second = 0;
    std::thread([&] { first = slack_after_a_sleep(); }).join();
    std::thread([&] { second = slack_after_a_sleep(); }).join();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}
#endif
