// The Linux and the Windows builds against each other, through a relay that
// records the stream: the same wire format both ways.

#include "e2e.h"
#include "relay.h"

#include <csignal>

namespace {

struct pairing {
    target client;
    target server;
};

void PrintTo(const pairing& p, std::ostream* os)
{
    *os << p.client.name << " client, " << p.server.name << " server";
}

class Interop : public ::testing::TestWithParam<pairing> {
protected:
    void SetUp() override
    {
        if (GetParam().client.program.empty() || GetParam().server.program.empty())
            GTEST_SKIP() << "needs the Windows build too (set QUORVEL_WINDOWS_EXE to a quorvel.exe)";
    }
    void TearDown() override
    {
        for (child* c : {&client_, &server_})
            stop_hard(*c);
    }
    child client_, server_;
};

std::vector<pairing> pairings()
{
    const std::vector<target> builds = builds_under_test();
    return {{builds[0], builds[1]}, {builds[1], builds[0]}};
}

std::string pairing_name(const ::testing::TestParamInfo<pairing>& info)
{
    return info.param.client.name + "ClientTo" + info.param.server.name + "Server";
}

} // namespace

TEST_P(Interop, MessagesArriveWholeAndRepliesAreTheirFirstHalves)
{
    const int padlen = 100;
    const int port = free_port();
    server_ = spawn(GetParam().server, {"-mode", "server", "-port", std::to_string(port), "-rate", "20", "-padlen",
                                        std::to_string(padlen)});
    ASSERT_TRUE(read_until_contains(server_, "Waiting for connection..\n", 20s)) << server_.out;
    relay between(port);
    client_ = spawn(GetParam().client, {"-mode", "client", "-host", "127.0.0.1", "-port", std::to_string(between.port()),
                                        "-rate", "10", "-padlen", std::to_string(padlen)});
    ASSERT_TRUE(read_until(server_, [](const std::string& out) { return age_lines(out).size() >= 10; }, 20s))
        << server_.out;
    signal_child(client_, SIGINT);
    EXPECT_EQ(wait_exit(client_, 10s), 0);
    ASSERT_TRUE(wait_lines(server_, "Waiting for connection..", 2, 10s)) << server_.out;
    signal_child(server_, SIGINT);
    EXPECT_EQ(wait_exit(server_, 10s), 0);

    const std::string up = between.upstream();
    const std::string down = between.downstream();
    std::string why;
    EXPECT_TRUE(is_framed_stream(up, padlen, 30, &why)) << why;
    const std::size_t message = padlen + 10, reply = message / 2;
    ASSERT_EQ(down.size() % reply, 0u) << down.size();
    ASSERT_LE(down.size() / reply, up.size() / message);
    // The last replies may still be on their way when the client stops.
    ASSERT_GE(down.size() / reply, 5u);
    for (std::size_t i = 0; i < down.size() / reply; ++i)
        ASSERT_EQ(down.substr(i * reply, reply), up.substr(i * message, reply)) << "reply " << i;
    EXPECT_EQ(server_.out.find("[ERROR]"), std::string::npos) << server_.out;
    EXPECT_EQ(server_.out.find("[WARNING]"), std::string::npos) << server_.out;
    EXPECT_EQ(client_.out.find_first_not_of("#.\n"), std::string::npos) << client_.out;
}

INSTANTIATE_TEST_SUITE_P(Builds, Interop, ::testing::ValuesIn(pairings()), pairing_name);
