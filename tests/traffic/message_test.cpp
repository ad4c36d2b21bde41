#include "traffic/message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

TEST(Cadence, FromTheRate)
{
    struct Case { std::int32_t rate; std::int64_t interval_ns; std::uint32_t report_every; };
    for (Case c : {Case{1, 1'000'000'000, 1}, Case{4, 250'000'000, 1}, Case{24, 41'666'666, 1},
                   Case{47, 21'276'595, 1}, Case{48, 20'833'333, 2}, Case{62, 16'129'032, 2},
                   Case{63, 15'873'015, 2}, Case{100000, 10'000, 4166}}) {
        cadence cad = cadence_for_rate(c.rate);
        EXPECT_EQ(cad.interval_ns, c.interval_ns) << c.rate;
        EXPECT_EQ(cad.report_every, c.report_every) << c.rate;
    }
    cadence every_second = cadence_for_rate(48);
    EXPECT_TRUE(cadence_reports(every_second, 0));
    EXPECT_FALSE(cadence_reports(every_second, 1));
    EXPECT_TRUE(cadence_reports(every_second, 2));
}

TEST(Message, LengthsForTheReaderAndTheReply)
{
    struct Case { int padlen; int message; int reply; };
    for (Case c : {Case{0, 10, 5}, Case{1, 11, 5}, Case{200, 210, 105}, Case{4000, 4010, 2005}}) {
        EXPECT_EQ(message_length(c.padlen), c.message);
        EXPECT_EQ(reply_length(c.padlen), c.reply);
    }
}

TEST(Message, ComposeWritesTheTimestampAsPrintedThenPadding)
{
    for (std::int64_t ts : {std::int64_t{1765432100}, std::int64_t{0}, std::int64_t{7}, std::int64_t{-42},
                            std::numeric_limits<std::int64_t>::max(),
                            std::numeric_limits<std::int64_t>::min()}) {
        for (int padlen : {0, 1, 4000}) {
            char buffer[MESSAGE_BUFFER_SIZE];
            const int length = message_compose(buffer, ts, padlen);
            char digits[32];
            const int digit_count = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(ts));
            ASSERT_EQ(length, digit_count + padlen);
            EXPECT_EQ(std::string(buffer, digit_count), digits);
            EXPECT_EQ(std::string(buffer + digit_count, padlen), std::string(padlen, '#'));
        }
    }
}

// A kept message must never go out with stale digits or a stale length, also
// when the timestamp gains or loses a digit or its sign, or padlen changes.
TEST(MessageDraft, AlwaysHoldsWhatComposeWouldWrite)
{
    struct Step { std::int64_t timestamp; int padlen; };
    const Step steps[] = {
        {1765432100, 400}, {1765432100, 400}, {1765432101, 400},  // same second, then the next
        {999999999, 400}, {1000000000, 400},                      // nine digits, then ten
        {1000000000, 4000}, {1000000000, 0},                      // padlen changes
        {-42, 3}, {7, 3}, {std::numeric_limits<std::int64_t>::min(), 4000},
        {std::numeric_limits<std::int64_t>::max(), 4000}, {0, 1},
    };
    message_draft draft;
    for (const Step& step : steps) {
        char expected[MESSAGE_BUFFER_SIZE];
        const int expected_length = message_compose(expected, step.timestamp, step.padlen);
        const int length = message_draft_update(&draft, step.timestamp, step.padlen);
        ASSERT_EQ(length, expected_length) << step.timestamp << " padlen " << step.padlen;
        EXPECT_EQ(std::string(draft.bytes, length), std::string(expected, expected_length))
            << step.timestamp << " padlen " << step.padlen;
    }
}

TEST(MessageDraft, AFreshDraftIsComposedEvenForTimestampZero)
{
    // A fresh draft carries timestamp 0 and padlen 0: a first update for just
    // those must still compose.
    message_draft draft;
    ASSERT_EQ(message_draft_update(&draft, 0, 0), 1);
    EXPECT_EQ(draft.bytes[0], '0');
}

TEST(Message, ParseReadsBackWhatComposeWrote)
{
    for (int padlen : {0, 1, 4000}) {
        char buffer[MESSAGE_BUFFER_SIZE + 1];
        const int length = message_compose(buffer, 1765432100, padlen);
        ASSERT_EQ(length, message_length(padlen));
        buffer[length] = '\0';
        std::int64_t ts = 0;
        EXPECT_EQ(message_parse(buffer, &ts), 1);
        EXPECT_EQ(ts, 1765432100);
    }
}

TEST(Message, ParseFollowsNumberScanning)
{
    struct Case { const char* text; int result; std::int64_t value; };
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    const std::int64_t min = std::numeric_limits<std::int64_t>::min();
    for (Case c : {Case{"", -1, 0}, Case{" \t\n\v\f\r", -1, 0}, Case{"###", 0, 0}, Case{"-", 0, 0},
                   Case{" +x", 0, 0}, Case{"--5", 0, 0}, Case{"\x1c" "5", 0, 0},
                   Case{"  -17##", 1, -17}, Case{"+5", 1, 5}, Case{"0x10", 1, 0}, Case{"12abc", 1, 12},
                   Case{"99999999999999999999", 1, max}, Case{"-99999999999999999999", 1, min},
                   Case{"9223372036854775807", 1, max}, Case{"-9223372036854775808", 1, min}}) {
        std::int64_t value = 0;
        EXPECT_EQ(message_parse(c.text, &value), c.result) << '"' << c.text << '"';
        if (c.result == 1) {
            EXPECT_EQ(value, c.value) << '"' << c.text << '"';
        }
    }
}

TEST(Message, AMisalignedReaderFindsNoNumber)
{
    // The writer pads 300 bytes, the reader expects 200: the reader's second
    // message starts inside the first one's padding.
    char stream[2 * MESSAGE_BUFFER_SIZE];
    int written = message_compose(stream, 1765432100, 300);
    written += message_compose(stream + written, 1765432101, 300);
    const int need = message_length(200);
    char second[MESSAGE_BUFFER_SIZE];
    std::string(stream + need, need).copy(second, need);
    second[need] = '\0';
    std::int64_t ts = 0;
    EXPECT_EQ(message_parse(second, &ts), 0);
}

TEST(Message, AgeSaturatesInsteadOfOverflowing)
{
    const std::int64_t max = std::numeric_limits<std::int64_t>::max();
    const std::int64_t min = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(message_age(1765432100, 1765432090), 10);
    EXPECT_EQ(message_age(1765432100, 1765432190), -90);
    EXPECT_EQ(message_age(1765432100, min), max);
    EXPECT_EQ(message_age(1765432100, -max), max);
    EXPECT_EQ(message_age(-5, max), min);
    EXPECT_EQ(message_age(0, max), -max);
}
