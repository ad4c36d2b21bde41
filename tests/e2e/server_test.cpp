// The server against raw clients written here.

#include "e2e.h"

#include <csignal>
#include <cstdlib>
#include <sys/socket.h>

namespace {

using Server = E2eTest;

// The output with every age line replaced by "A", to compare its shape exactly.
std::string with_ages_as_a(const std::string& out)
{
    std::string shape;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        const std::string line = out.substr(start, end - start);
        const bool is_age = !line.empty() && line.find_first_not_of("-0123456789") == std::string::npos;
        shape += (is_age ? "A" : line) + "\n";
        start = end + 1;
    }
    return shape;
}

} // namespace

TEST_P(Server, ServesIpv4AndIpv6ClientsWithHalfSizedRepliesAndAges)
{
    int port = 0;
    child& server = start_server(&port, {"-rate", "20", "-padlen", "100"});
    int served = 0;
    for (const char* host : {"127.0.0.1", "::1"}) {
        fd_guard conn = connect_within(host, port, startup());
        ASSERT_TRUE(conn.valid()) << host;
        // An old, a future and a current timestamp: the age is now minus the timestamp.
        const std::int64_t now = unix_now();
        for (std::int64_t ts : {now - 100, now + 50, now}) {
            const std::string message = make_message(ts, 100);
            ASSERT_TRUE(send_all(conn, message));
            EXPECT_EQ(read_exactly(conn, 55, startup()), message.substr(0, 55)) << host;
        }
        conn.reset();
        ++served;
        ASSERT_TRUE(wait_lines(server, "Waiting for connection..", served + 1, startup())) << server.out;
    }
    const std::vector<long long> ages = age_lines(server.out);
    ASSERT_EQ(ages.size(), 6u) << server.out;
    for (int i = 0; i < 2; ++i) {
        EXPECT_NEAR(ages[3 * i], 100, 2);
        EXPECT_NEAR(ages[3 * i + 1], -50, 2);
        EXPECT_NEAR(ages[3 * i + 2], 0, 2);
    }
    std::string expected_shape;
    for (int i = 0; i < 2; ++i)
        expected_shape += "Accepted connection..\nA\nA\nA\nConnection closed\nWaiting for connection..\n";
    EXPECT_EQ(with_ages_as_a(server.out), "Waiting for connection..\n" + expected_shape);
}

TEST_P(Server, ReportsEverySecondMessageAtRate48AndCountsAcrossConnections)
{
    int port = 0;
    child& server = start_server(&port, {"-rate", "48", "-padlen", "0"});
    // Counters 0..2 on the first connection report 0 and 2; 3..5 on the second report 4.
    for (int connection = 1; connection <= 2; ++connection) {
        fd_guard conn = connect_within("127.0.0.1", port, startup());
        ASSERT_TRUE(conn.valid());
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(send_all(conn, make_message(unix_now(), 0)));
        EXPECT_EQ(read_exactly(conn, 15, startup()).size(), 15u);  // three replies of 5 bytes
        conn.reset();
        ASSERT_TRUE(wait_lines(server, "Waiting for connection..", connection + 1, startup())) << server.out;
    }
    EXPECT_EQ(age_lines(server.out).size(), 3u) << server.out;
}

TEST_P(Server, MessagesThatDoNotParseEndTheConnectionAndTheNextClientIsServed)
{
    int port = 0;
    child& server = start_server(&port, {"-rate", "50", "-padlen", "20"});
    struct Case { std::string bytes; std::string report; };
    const std::vector<Case> cases = {
        {"hello, this is not a number...", "[ERROR] rx parse failed: 0\n"},
        {std::string(30, ' '), "[ERROR] rx parse failed: -1\n"},
        // A client padding 25 bytes against a reader expecting 20: the first
        // message parses, the second starts inside the padding.
        {make_message(unix_now(), 25) + make_message(unix_now(), 25), "[ERROR] rx parse failed: 0\n"},
    };
    int waits = 1;
    for (const Case& c : cases) {
        fd_guard conn = connect_within("127.0.0.1", port, startup());
        ASSERT_TRUE(conn.valid());
        ASSERT_TRUE(send_all(conn, c.bytes));
        ASSERT_TRUE(wait_lines(server, "Waiting for connection..", ++waits, startup())) << server.out;
        EXPECT_NE(server.out.find(c.report + "Waiting for connection..\n"), std::string::npos) << server.out;
        EXPECT_TRUE(wait_peer_closed(conn, startup()));
    }
    // Still serving.
    fd_guard conn = connect_within("127.0.0.1", port, startup());
    ASSERT_TRUE(send_all(conn, make_message(unix_now(), 20)));
    EXPECT_EQ(read_exactly(conn, 15, startup()).size(), 15u);
}

TEST_P(Server, APeerThatResetsOrClosesIsReportedAndTheServerWaitsAgain)
{
    int port = 0;
    child& server = start_server(&port, {"-rate", "50", "-padlen", "200"});

    fd_guard conn = connect_within("127.0.0.1", port, startup());
    ASSERT_TRUE(send_all(conn, make_message(unix_now(), 200).substr(0, 100)));  // half a message
    ASSERT_TRUE(read_until_contains(server, "Accepted connection..\n", startup()));
    close_with_reset(conn);
    ASSERT_TRUE(wait_lines(server, "Waiting for connection..", 2, startup())) << server.out;
    // Wine hands a reset to the program as an orderly close.
    const std::string reset_report = build().is_wine() ? "Connection closed\n"
                                                       : "[WARNING] Receive failure: Connection reset by peer\n";
    EXPECT_NE(server.out.find("Accepted connection..\n" + reset_report + "Waiting for connection..\n"),
              std::string::npos)
        << server.out;

    conn = connect_within("::1", port, startup());
    ASSERT_TRUE(conn.valid());
    conn.reset();
    ASSERT_TRUE(wait_lines(server, "Waiting for connection..", 3, startup())) << server.out;
    EXPECT_NE(server.out.find("Accepted connection..\nConnection closed\nWaiting for connection..\n"),
              std::string::npos)
        << server.out;
}

TEST_P(Server, APortTakenByAnotherListenerIsABindFailure)
{
    int port = 0;
    fd_guard holder = listen_any(&port);
    ASSERT_TRUE(holder.valid());
    const run_result r = run_to_end(build(), {"-mode", "server", "-rate", "2", "-port", std::to_string(port)},
                                    startup());
    // Windows reports a port held exclusively by another program as access denied.
    const std::string reason = build().is_wine() ? "Permission denied" : "Address already in use";
    EXPECT_EQ(r.out, "[ERROR] Bind failed to port " + std::to_string(port) + ": " + reason + "\n");
    EXPECT_EQ(r.exit_status, 1);
}

TEST_P(Server, StopsPromptlyWhileWaitingAndWhileServing)
{
    int port = 0;
    child& idle = start_server(&port, {"-rate", "1"});
    auto asked = std::chrono::steady_clock::now();
    signal_child(idle, SIGINT);
    EXPECT_EQ(wait_exit(idle, startup()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, stop_bound());
    EXPECT_EQ(idle.out, "Waiting for connection..\n");

    child& busy = start_server(&port, {"-rate", "1", "-padlen", "0"});
    fd_guard conn = connect_within("127.0.0.1", port, startup());
    ASSERT_TRUE(send_all(conn, make_message(unix_now(), 0)));
    ASSERT_EQ(read_exactly(conn, 5, startup()).size(), 5u);  // served one message; now pacing for the next
    asked = std::chrono::steady_clock::now();
    signal_child(busy, SIGINT);
    EXPECT_EQ(wait_exit(busy, startup()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, stop_bound());
    const std::string last_line = "\nWaiting for connection..\n";
    EXPECT_EQ(busy.out.substr(busy.out.size() - last_line.size()), last_line) << busy.out;
    EXPECT_EQ(busy.out.find("Connection closed"), std::string::npos) << busy.out;
}

INSTANTIATE_FOR_EVERY_BUILD(Server);
