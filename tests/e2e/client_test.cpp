// The client against raw servers written here.

#include "e2e.h"

#include <csignal>
#include <sys/socket.h>

namespace {

using Client = E2eTest;

std::vector<std::string> client_args(const char* host, int port, int rate, int padlen,
                                     std::vector<std::string> extra = {})
{
    std::vector<std::string> args = {"-mode", "client", "-host", host, "-port", std::to_string(port),
                                     "-rate", std::to_string(rate), "-padlen", std::to_string(padlen)};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

} // namespace

TEST_P(Client, SendsTimestampAndPaddingWithOneMarkPerMessage)
{
    struct Case { const char* host; int family; int padlen; };
    for (Case c : {Case{"127.0.0.1", AF_INET, 0}, Case{"::1", AF_INET6, 1}, Case{"127.0.0.1", AF_INET, 4000}}) {
        int port = 0;
        fd_guard listener = listen_loopback(c.family, &port);
        child& client = start(client_args(c.host, port, 20, c.padlen));
        fd_guard conn = accept_within(listener, startup());
        ASSERT_TRUE(conn.valid()) << c.host << client.out;
        std::string wire = read_exactly(conn, 5 * (c.padlen + 10u), startup());
        signal_child(client, SIGINT);
        wire += read_available(conn, 2s, startup());
        EXPECT_EQ(wait_exit(client, startup()), 0);

        std::string why;
        EXPECT_TRUE(is_framed_stream(wire, c.padlen, 5, &why)) << c.host << ": " << why;
        // Below rate 48 every message gets its mark, and each one here went out
        // whole; the one the stop request cut short before it began reads ".".
        const std::size_t messages = wire.size() / (c.padlen + 10u);
        EXPECT_GE(messages, 5u);
        const std::string marks = std::string(messages, '#');
        EXPECT_TRUE(client.out == marks + "\n" || client.out == marks + ".\n") << c.host << ": " << client.out;
    }
}

TEST_P(Client, AFullSendBufferDropsWholeMessagesAndTheStreamStaysFramed)
{
    int port = 0;
    fd_guard listener = listen_loopback(AF_INET, &port, 4096);
    child& client = start(client_args("127.0.0.1", port, 40, 400, {"-buflen", "4096"}));
    fd_guard conn = accept_within(listener, startup());
    ASSERT_TRUE(conn.valid()) << client.out;

    // Nobody reads: the buffers fill and messages are dropped.
    ASSERT_TRUE(read_until_contains(client, ".", 20s)) << client.out;
    // Reading again: messages go out whole once more.
    std::string wire = read_available(conn, 300ms, 3s);
    const std::size_t marks_before = client.out.size();
    ASSERT_TRUE(read_until(client, [&](const std::string& out) {
        return out.find('#', marks_before) != std::string::npos;
    }, 10s)) << client.out;
    wire += read_available(conn, 300ms, 2s);
    signal_child(client, SIGINT);
    wire += read_available(conn, 2s, startup());
    EXPECT_EQ(wait_exit(client, startup()), 0);

    std::string why;
    EXPECT_TRUE(is_framed_stream(wire, 400, 30, &why)) << why;
    // Every mark stands for one message, sent whole ("#") or dropped (".").
    EXPECT_EQ(client.out.back(), '\n');
    EXPECT_EQ(static_cast<std::size_t>(count_of(client.out, '#')), wire.size() / 410) << client.out;
}

TEST_P(Client, APeerThatGoesAwayEndsTheRunWithASendFailure)
{
    int port = 0;
    fd_guard listener = listen_loopback(AF_INET6, &port);
    child& client = start(client_args("::1", port, 20, 100));
    fd_guard conn = accept_within(listener, startup());
    ASSERT_TRUE(conn.valid());
    ASSERT_EQ(read_exactly(conn, 110, startup()).size(), 110u);
    conn.reset();
    listener.reset();

    EXPECT_EQ(wait_exit(client, 10s), 1) << client.out;
    EXPECT_TRUE(ends_with_send_failure(client.out)) << client.out;
    // The peer read everything until it left: every mark before the failure is "#".
    EXPECT_EQ(client.out.find('.'), std::string::npos) << client.out;
}

TEST_P(Client, ARefusedConnectionNamesTheHostAsTyped)
{
    for (const char* host : {"127.0.0.1", "::1"}) {
        const int port = free_port();
        const run_result r = run_to_end(build(), client_args(host, port, 4, 200), startup() + 10s);
        EXPECT_EQ(r.out, std::string("[ERROR] connect failed to ") + host + " on port " + std::to_string(port) +
                             ": Connection refused\n\n");
        EXPECT_EQ(r.exit_status, 1) << host;
    }
}

TEST_P(Client, StopsPromptlyAndEndsItsLineOfMarks)
{
    int port = 0;
    fd_guard listener = listen_loopback(AF_INET, &port);
    child& client = start(client_args("127.0.0.1", port, 1, 200));
    fd_guard conn = accept_within(listener, startup());
    ASSERT_TRUE(conn.valid());
    ASSERT_TRUE(read_until_contains(client, "#", startup()));
    const auto asked = std::chrono::steady_clock::now();
    signal_child(client, SIGINT);
    EXPECT_EQ(wait_exit(client, startup()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, stop_bound());
    EXPECT_EQ(client.out.back(), '\n');
    EXPECT_EQ(client.out.substr(0, client.out.size() - 1).find_first_not_of("#."), std::string::npos) << client.out;
}

INSTANTIATE_FOR_EVERY_BUILD(Client);
