// The message format from arbitrary bytes.
//
// Parse: the input, as NUL-terminated text, read by message_parse and by the
// C library's own "%lld" scanning; result and value must agree.
// Compose: a timestamp and a padlen taken from the input's first bytes are
// composed into a buffer of exactly the documented capacity, must read as
// "%lld" prints the timestamp followed by the padding, and must parse back.
// Age: now - timestamp, saturated at the 64-bit limits instead of overflowing.

#include "fuzz_check.h"
#include "traffic/message.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

std::int64_t read_int64(const std::uint8_t* data, std::size_t size, std::size_t at)
{
    std::uint8_t bytes[8] = {};
    for (std::size_t i = 0; i < 8 && at + i < size; ++i)
        bytes[i] = data[at + i];
    std::int64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

void check_parse_against_scanf(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);  // c_str() adds the NUL
    std::int64_t parsed = 0;
    const int result = message_parse(text.c_str(), &parsed);
    long long scanned = 0;
    const int scan_result = std::sscanf(text.c_str(), "%lld", &scanned);
    if (result != scan_result) {
        std::fprintf(stderr, "message_parse gave %d, sscanf %d\n", result, scan_result);
    }
    FUZZ_CHECK(result == scan_result);
    if (result == 1) {
        if (parsed != scanned) {
            std::fprintf(stderr, "message_parse read %lld, sscanf %lld\n", static_cast<long long>(parsed),
                         scanned);
        }
        FUZZ_CHECK(parsed == scanned);
    }
}

void check_compose_round_trip(std::int64_t timestamp, int padlen)
{
    // Exactly the capacity message_compose asks for: one byte more written
    // would be a heap overflow the address sanitizer reports.
    std::vector<char> buffer(static_cast<std::size_t>(MESSAGE_TIMESTAMP_MAX_CHARS + padlen));
    const int length = message_compose(buffer.data(), timestamp, padlen);

    char printed[32];
    const int digits = std::snprintf(printed, sizeof printed, "%lld", static_cast<long long>(timestamp));
    FUZZ_CHECK(length == digits + padlen);
    const std::string message(buffer.data(), static_cast<std::size_t>(length));
    FUZZ_CHECK(message.compare(0, static_cast<std::size_t>(digits), printed) == 0);
    FUZZ_CHECK(message.find_first_not_of('#', static_cast<std::size_t>(digits)) == std::string::npos);

    std::int64_t parsed = 0;
    FUZZ_CHECK(message_parse(message.c_str(), &parsed) == 1);
    FUZZ_CHECK(parsed == timestamp);
}

void check_age(std::int64_t now, std::int64_t timestamp)
{
    std::int64_t exact = 0;
    const bool overflow = __builtin_sub_overflow(now, timestamp, &exact);
    const std::int64_t age = message_age(now, timestamp);
    if (!overflow)
        FUZZ_CHECK(age == exact);
    else if (timestamp < 0)
        FUZZ_CHECK(age == std::numeric_limits<std::int64_t>::max());
    else
        FUZZ_CHECK(age == std::numeric_limits<std::int64_t>::min());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    check_parse_against_scanf(data, size);

    // Bytes 0-7: a timestamp; 8-9: a padlen; 10-17: the reader's clock.
    const std::int64_t timestamp = read_int64(data, size, 0);
    const unsigned pad_bytes = (size > 8 ? data[8] : 0u) | (size > 9 ? data[9] << 8 : 0u);
    const int padlen = static_cast<int>(pad_bytes % (MESSAGE_PADLEN_MAX + 1));
    check_compose_round_trip(timestamp, padlen);
    check_age(read_int64(data, size, 10), timestamp);
    return 0;
}
