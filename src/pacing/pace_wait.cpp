#include "pacing/clock.h"

#include "cli/stop.h"

namespace {
constexpr std::int64_t sleep_threshold_ns = 16'000'000;
}

void sleep_ms(std::int64_t ms)
{
    // A stop signal that came just before the sleep (while the loop was busy
    // between its own check and here) would otherwise be slept through.
    if (!stop_is_requested())
        os_sleep_ms(ms);
}

void pace_wait(std::int64_t ns)
{
    const std::int64_t start = clock_ns();
    if (ns >= sleep_threshold_ns) {
        sleep_ms(ns / 1'000'000);
        return;
    }
    for (;;) {
        const std::int64_t now = clock_ns();
        // A clock that went backwards ends the wait rather than stretching it.
        if (now - start >= ns || now < start)
            return;
    }
}
