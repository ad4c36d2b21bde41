#include "pacing/clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sys/prctl.h>
#include <thread>

// The timer slack belongs to each thread: every thread that sleeps must get
// prompt wake-ups, not only the first one.
TEST(PaceWait, ASleepingThreadAsksForPromptWakeups)
{
    constexpr std::int64_t ms = 1'000'000;
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
