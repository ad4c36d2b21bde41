// The stream between the two ends and the pacing numbers both derive from the rate.
//
// A message is the sender's calendar time in whole seconds as decimal text
// (no sign, no leading zeros, no terminator), then padlen '#' bytes. The
// stream has no header or delimiter: framing rests on both ends using the same
// padlen and on the timestamp having 10 digits, so the reader always takes
// padlen + 10 bytes. The reply is the first half of the message, unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int MESSAGE_PADLEN_MAX = 4000;
constexpr int MESSAGE_TIMESTAMP_DIGITS = 10;
constexpr int MESSAGE_TIMESTAMP_MAX_CHARS = 20;  // "%lld" of the most negative value
// Room for any message either end composes or reads, and the reader's NUL.
constexpr std::size_t MESSAGE_BUFFER_SIZE = 4096;
static_assert(MESSAGE_BUFFER_SIZE >= MESSAGE_TIMESTAMP_MAX_CHARS + MESSAGE_PADLEN_MAX);

struct cadence {
    std::int64_t interval_ns;    // 1e9 / rate, truncated
    std::uint32_t report_every;  // rate / 24, at least 1: about 24 reports a second at most
};

cadence cadence_for_rate(std::int32_t rate);

// True when the message with this counter value gets a report (age line or mark).
inline bool cadence_reports(const cadence& c, std::uint32_t counter)
{
    return counter % c.report_every == 0;
}

// Bytes the reader takes as one message, and the size of its reply.
inline int message_length(int padlen) { return padlen + MESSAGE_TIMESTAMP_DIGITS; }
inline int reply_length(int padlen) { return message_length(padlen) / 2; }

// Writes the timestamp as "%lld" prints it, then padlen '#' bytes, into buffer
// (capacity at least MESSAGE_TIMESTAMP_MAX_CHARS + padlen). Returns the length.
int message_compose(char* buffer, std::int64_t timestamp, int padlen);

// A client's message kept from one send to the next. Its padding never
// changes and its timestamp only once a second, so composing it afresh for
// every send would rewrite every padding byte for nothing; the draft is
// composed again only when the timestamp (or padlen) differs from the last.
struct message_draft {
    int length = 0;  // 0 until the first update
    int padlen = 0;
    std::int64_t timestamp = 0;
    char bytes[MESSAGE_TIMESTAMP_MAX_CHARS + MESSAGE_PADLEN_MAX];
};

// Makes draft->bytes hold what message_compose(timestamp, padlen) writes and
// returns its length.
int message_draft_update(message_draft* draft, std::int64_t timestamp, int padlen);

// Reads a timestamp from NUL-terminated text the way "%lld" scanning does:
// white space skipped, optional sign, decimal digits. Returns 1 and sets
// *timestamp on success, 0 when no number starts the text, -1 when the text is
// nothing but white space. Values beyond the 64-bit range saturate.
int message_parse(const char* text, std::int64_t* timestamp);

// now - timestamp, saturated so that a hostile timestamp cannot overflow it.
std::int64_t message_age(std::int64_t now, std::int64_t timestamp);
