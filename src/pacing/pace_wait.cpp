#include "pacing/clock.h"

namespace {
constexpr std::int64_t sleep_threshold_ns = 16'000'000;
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
