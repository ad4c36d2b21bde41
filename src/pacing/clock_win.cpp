#include "pacing/clock.h"
#include "pacing/clock_win.h"

#include <windows.h>

namespace {

constexpr std::int64_t ns_per_second = 1'000'000'000;

// Which time source clock_ns reads. Set on the first call, and when the
// counter fails; the fallback, once chosen, stays for the life of the process.
constexpr int mode_not_probed = 0;
constexpr int mode_counter = 1;
constexpr int mode_fallback = -1;

int mode = mode_not_probed;
std::int64_t counter_frequency = 0;  // counts per second, from the probe

// The millisecond tick count since start-up. GetTickCount64 rather than
// GetTickCount: the same count, but without the wrap after 49.7 days that
// would make time jump backwards.
std::int64_t fallback_ns()
{
    mode = mode_fallback;
    return static_cast<std::int64_t>(GetTickCount64()) * 1'000'000;
}

} // namespace

std::int64_t counter_to_ns(std::int64_t counter, std::int64_t frequency)
{
    // Whole seconds and the remainder apart: counter * 1e9 in one step would
    // overflow once a 10 MHz counter passes about 15 minutes since start-up.
    const std::int64_t seconds = counter / frequency;
    const std::int64_t rest = counter % frequency;
    return seconds * ns_per_second + rest * ns_per_second / frequency;
}

std::int64_t clock_ns()
{
    if (mode == mode_not_probed) {
        LARGE_INTEGER probed;
        // A frequency the conversion cannot take counts as a failed probe.
        if (!QueryPerformanceFrequency(&probed) || probed.QuadPart <= 0
            || probed.QuadPart > COUNTER_FREQUENCY_MAX)
            return fallback_ns();
        counter_frequency = probed.QuadPart;
        mode = mode_counter;
    }
    if (mode == mode_counter) {
        LARGE_INTEGER now;
        if (QueryPerformanceCounter(&now))
            return counter_to_ns(now.QuadPart, counter_frequency);
    }
    return fallback_ns();
}

void os_sleep_ms(std::int64_t ms)
{
    // Sleep is not cut short by a stop request (the console handler runs on a
    // thread of its own), so a stop made during it takes effect afterwards.
    // A request beyond one call's range is served in parts; INFINITE is never passed.
    constexpr std::int64_t longest = 0x7FFFFFFF;
    while (ms > 0) {
        const std::int64_t part = ms < longest ? ms : longest;
        Sleep(static_cast<DWORD>(part));
        ms -= part;
    }
}
