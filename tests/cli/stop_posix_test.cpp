#include "cli/stop.h"

#include "pacing/clock.h"

#include <gtest/gtest.h>

#include <csignal>
#include <pthread.h>
#include <thread>

namespace {
constexpr std::int64_t ms = 1'000'000;
}

// Each stop signal ends a sleep under way at once and raises the flag; the
// process goes on (the signal is handled, not fatal).
TEST(StopSignals, EndASleepAtOnceAndRaiseTheFlag)
{
    ASSERT_EQ(install_stop_handler(), 0);
    for (int sig : {SIGINT, SIGQUIT, SIGTERM}) {
        stop_requested.store(0);
        const pthread_t sleeper = pthread_self();
        std::thread signaller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pthread_kill(sleeper, sig);
        });
        const std::int64_t start = clock_ns();
        sleep_ms(5000);
        const std::int64_t took = clock_ns() - start;
        signaller.join();
        EXPECT_EQ(stop_requested.load(), 1) << sig;
        EXPECT_LT(took, 2000 * ms) << sig;
    }
    stop_requested.store(0);
}
