// Monotonic time and the waits that pace both ends.
#pragma once

#include <cstdint>

// Nanoseconds from an arbitrary origin; only differences mean anything.
std::int64_t clock_ns();

// Sleeps about ms milliseconds with the operating system's sleep. A stop
// request never lengthens a wait: one made before the sleep skips it, and on
// platforms where the stop arrives as a signal, one made during it ends it.
// Where the system delays sleeps to group wake-ups (Linux's timer slack), the
// first sleep of a thread asks for wake-ups as prompt as it allows.
void sleep_ms(std::int64_t ms);

// The operating system's sleep itself, for sleep_ms.
void os_sleep_ms(std::int64_t ms);

// Waits ns nanoseconds: from 16 ms on it sleeps whole milliseconds (truncated),
// below that it spins on the clock, because the operating system's sleep is too
// coarse for short intervals. Zero or negative returns at once.
void pace_wait(std::int64_t ns);
