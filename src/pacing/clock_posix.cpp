#include "pacing/clock.h"

#include <sys/prctl.h>
#include <time.h>

namespace {

// Linux lets a sleep end as much as the thread's timer slack late (50 us by
// default) so that it can group wake-ups; on top of the wake-up latency that
// is a large part of a paced sleep's overshoot. Pacing sleeps at most 62 times
// a second and wants each sleep to end on time, so the first sleep of a
// thread takes its slack down to the least there is. The slack belongs to
// the thread, hence a flag per thread.
void ask_for_prompt_wakeups()
{
    thread_local bool asked = false;
    if (!asked) {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        asked = true;
    }
}

} // namespace

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
    ask_for_prompt_wakeups();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1'000'000;
    // Interrupted by a stop signal: return rather than sleep the rest.
    nanosleep(&ts, nullptr);
}
