// The performance counter's reading turned into nanoseconds, on its own so it
// can be checked with any counter value and frequency.
#pragma once

#include <cstdint>

// The largest frequency counter_to_ns handles exactly: below it, the part of a
// reading short of a whole second, times 1e9, still fits in 64 bits.
constexpr std::int64_t COUNTER_FREQUENCY_MAX = INT64_MAX / 1'000'000'000;

// counter * 1e9 / frequency, truncated, without overflowing for as long as the
// result itself fits (about 292 years). frequency must be 1..COUNTER_FREQUENCY_MAX.
std::int64_t counter_to_ns(std::int64_t counter, std::int64_t frequency);
