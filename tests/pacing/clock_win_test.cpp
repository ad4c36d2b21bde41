#include "pacing/clock_win.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {
constexpr std::int64_t second = 1'000'000'000;
constexpr std::int64_t days_300 = 300LL * 86'400;  // seconds
} // namespace

// Frequencies seen in the field: 10 MHz (current Windows), 3,579,545 Hz (the
// ACPI power-management timer), a counter running at the processor's clock on
// older systems, and the extremes the conversion accepts.
TEST(CounterToNs, ExactValuesFromStartUpToCenturiesOfUptime)
{
    struct Case { std::int64_t counter; std::int64_t frequency; std::int64_t ns; };
    for (Case c : {
             Case{0, 10'000'000, 0},
             Case{1, 10'000'000, 100},
             Case{9'999'999, 10'000'000, 999'999'900},
             Case{10'000'000, 10'000'000, second},
             // 300 days up: counter * 1e9 alone would be about 2.6e23
             Case{days_300 * 10'000'000, 10'000'000, days_300 * second},
             Case{days_300 * 10'000'000 + 1, 10'000'000, days_300 * second + 100},
             Case{1, 3'579'545, 279},  // 279.36 truncated
             Case{3'579'544, 3'579'545, 999'999'720},
             Case{3'579'545, 3'579'545, second},
             Case{days_300 * 3'579'545 + 3'579'544, 3'579'545, days_300 * second + 999'999'720},
             Case{days_300 * 3'000'000'000 + 2'999'999'999, 3'000'000'000, days_300 * second + 999'999'999},
             Case{5, 1, 5 * second},
             Case{COUNTER_FREQUENCY_MAX - 1, COUNTER_FREQUENCY_MAX, 999'999'999},
             // the last whole second a signed 64-bit nanosecond count can hold (about 292 years)
             Case{9'223'372'035LL * 10'000'000 + 9'999'999, 10'000'000, 9'223'372'035'999'999'900},
         })
        EXPECT_EQ(counter_to_ns(c.counter, c.frequency), c.ns)
            << "counter " << c.counter << " at " << c.frequency << " Hz";
}

TEST(CounterToNs, StepsEvenlyAcrossWholeSecondsAfterLongUptime)
{
    // Each count adds 1e9/frequency ns, truncated or rounded up, and never
    // goes back, also where the count crosses into the next whole second.
    for (std::int64_t frequency : {std::int64_t{10'000'000}, std::int64_t{3'579'545},
                                   std::int64_t{1'193'182}, std::int64_t{3'000'000'000}}) {
        const std::int64_t shortest = second / frequency;
        const std::int64_t longest = shortest + (second % frequency != 0 ? 1 : 0);
        for (std::int64_t seconds : {std::int64_t{0}, std::int64_t{1}, days_300}) {
            const std::int64_t boundary = seconds * frequency;
            std::int64_t previous = counter_to_ns(boundary - 2000 < 0 ? 0 : boundary - 2000, frequency);
            for (std::int64_t c = (boundary - 1999 < 1 ? 1 : boundary - 1999); c <= boundary + 2000; ++c) {
                const std::int64_t now = counter_to_ns(c, frequency);
                ASSERT_GE(now - previous, shortest) << c << " at " << frequency << " Hz";
                ASSERT_LE(now - previous, longest) << c << " at " << frequency << " Hz";
                previous = now;
            }
            EXPECT_EQ(counter_to_ns(boundary, frequency), seconds * second) << frequency;
        }
    }
}
