#include "traffic/message.h"

#include <cstring>
#include <limits>

cadence cadence_for_rate(std::int32_t rate)
{
    cadence c{};
    c.interval_ns = 1'000'000'000LL / rate;
    c.report_every = static_cast<std::uint32_t>(rate / 24);
    if (c.report_every == 0)
        c.report_every = 1;
    return c;
}

int message_compose(char* buffer, std::int64_t timestamp, int padlen)
{
    // Digits are produced backwards from the magnitude; unsigned so that the
    // most negative value has a magnitude too.
    char digits[MESSAGE_TIMESTAMP_MAX_CHARS];
    int count = 0;
    std::uint64_t magnitude = timestamp < 0 ? 0 - static_cast<std::uint64_t>(timestamp)
                                            : static_cast<std::uint64_t>(timestamp);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);

    int length = 0;
    if (timestamp < 0)
        buffer[length++] = '-';
    while (count > 0)
        buffer[length++] = digits[--count];
    std::memset(buffer + length, '#', static_cast<std::size_t>(padlen));
    return length + padlen;
}

int message_draft_update(message_draft* draft, std::int64_t timestamp, int padlen)
{
    if (draft->length == 0 || draft->timestamp != timestamp || draft->padlen != padlen) {
        draft->length = message_compose(draft->bytes, timestamp, padlen);
        draft->timestamp = timestamp;
        draft->padlen = padlen;
    }
    return draft->length;
}

namespace {
bool is_scan_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
} // namespace

int message_parse(const char* text, std::int64_t* timestamp)
{
    const char* p = text;
    while (is_scan_space(*p))
        ++p;
    if (*p == '\0')
        return -1;  // input ended before any conversion
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return 0;

    // Accumulate towards the sign's limit and saturate there, as the C
    // library's conversion does.
    const std::uint64_t limit = negative
        ? static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
        : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    std::uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const unsigned digit = static_cast<unsigned>(*p - '0');
        value = (value > (limit - digit) / 10) ? limit : value * 10 + digit;
    }
    *timestamp = negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
    return 1;
}

std::int64_t message_age(std::int64_t now, std::int64_t timestamp)
{
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    if (timestamp < 0 && now > max + timestamp)
        return max;
    if (timestamp > 0 && now < min + timestamp)
        return min;
    return now - timestamp;
}
