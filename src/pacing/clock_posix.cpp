#include "pacing/clock.h"

#include <time.h>

std::int64_t clock_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void os_sleep_ms(std::int64_t ms)
{
    if (ms <= 0)
        return;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1'000'000;
    // Interrupted by a stop signal: return rather than sleep the rest.
    nanosleep(&ts, nullptr);
}
