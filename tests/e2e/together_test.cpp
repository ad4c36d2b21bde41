// A real client against a real server.

#include "e2e.h"

#include <csignal>

namespace {
using ClientAndServer = E2eTest;
}

TEST_P(ClientAndServer, AFasterClientFillsTheBuffersAgesGrowAndDotsAppear)
{
    int port = 0;
    child& server = start_server(&port, {"-rate", "2", "-padlen", "400", "-buflen", "1"});
    child& client = start({"-mode", "client", "-host", "127.0.0.1", "-port", std::to_string(port), "-rate", "4",
                           "-padlen", "400", "-buflen", "1"});

    // Twice as fast as the reader: the queue, and with it the age, grows until
    // the send buffer is full and the client drops messages.
    const bool dots = read_until_contains(client, ".", 40s);
    const bool ages_grew = read_until(server, [](const std::string& out) {
        const std::vector<long long> ages = age_lines(out);
        return ages.size() > 2 && ages.back() >= ages.front() + 3;
    }, 40s);
    signal_child(client, SIGINT);
    EXPECT_EQ(wait_exit(client, startup()), 0);
    signal_child(server, SIGINT);
    EXPECT_EQ(wait_exit(server, startup()), 0);

    EXPECT_TRUE(dots) << client.out;
    EXPECT_TRUE(ages_grew) << server.out;
    EXPECT_EQ(server.out.find("[ERROR]"), std::string::npos) << server.out;
    EXPECT_EQ(client.out.find("[ERROR]"), std::string::npos) << client.out;
}

TEST_P(ClientAndServer, AClientStoppedWhileTheServerKeepsUpLeavesInOrder)
{
    // The server reads faster than the client sends, so nothing is queued when
    // the client stops; its replies are read before the close, which is then
    // an orderly one rather than a reset.
    int port = 0;
    child& server = start_server(&port, {"-rate", "20", "-padlen", "100"});
    for (int round = 1; round <= 3; ++round) {
        child& client = start({"-mode", "client", "-host", "127.0.0.1", "-port", std::to_string(port), "-rate",
                               "10", "-padlen", "100"});
        ASSERT_TRUE(read_until_contains(client, "#####", startup()));
        signal_child(client, SIGINT);
        EXPECT_EQ(wait_exit(client, startup()), 0);
        ASSERT_TRUE(wait_lines(server, "Waiting for connection..", round + 1, startup())) << server.out;
    }
    EXPECT_EQ(count_lines(server.out, "Connection closed"), 3) << server.out;
    EXPECT_EQ(server.out.find("[WARNING]"), std::string::npos) << server.out;
}

TEST_P(ClientAndServer, EachStopSignalEndsEitherEndWithStatus0)
{
    if (build().is_wine())
        GTEST_SKIP() << "under Wine only Ctrl+C (SIGINT) reaches the console handler";
    for (int sig : {SIGINT, SIGQUIT, SIGTERM}) {
        int port = 0;
        child& server = start_server(&port, {"-rate", "1"});
        child& client = start({"-mode", "client", "-host", "::1", "-port", std::to_string(port), "-rate", "1"});
        ASSERT_TRUE(read_until_contains(server, "Accepted connection..\n", startup()));
        ASSERT_TRUE(read_until_contains(client, "#", startup()));
        for (child* c : {&client, &server}) {
            const auto asked = std::chrono::steady_clock::now();
            signal_child(*c, sig);
            EXPECT_EQ(wait_exit(*c, startup()), 0) << "signal " << sig;
            EXPECT_LT(std::chrono::steady_clock::now() - asked, stop_bound()) << "signal " << sig;
        }
    }
}

INSTANTIATE_FOR_EVERY_BUILD(ClientAndServer);
