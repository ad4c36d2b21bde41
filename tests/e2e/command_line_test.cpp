// The command line from the outside: exact output and exit status.

#include "e2e.h"

#include <csignal>
#include <sys/socket.h>

namespace {

struct rejection {
    std::vector<std::string> args;
    std::string message;  // printed before the usage block
};

using CommandLine = E2eTest;

} // namespace

TEST_P(CommandLine, RejectionsPrintTheirMessageThenUsageAndExit2)
{
    const std::string rate_invalid = "-rate invalid, must be between '1' per second and '100000' per second\n";
    const std::vector<rejection> cases = {
        {{}, "-mode required, must be 'client' or 'server'\n"},
        {{"-mode", "client", "-rate", "4"}, "client mode requires -host parameter\n"},
        {{"-mode", "client", "-host", " \t", "-rate", "4"}, "client mode requires -host parameter\n"},
        {{"-mode", "sideways", "-rate", "4"}, "-mode invalid, must be 'client' or 'server'\n"},
        {{"-mode", " server", "-rate", "4"}, "-mode invalid, must be 'client' or 'server'\n"},
        {{"-mode", "server"}, "-rate required in requests per second\n"},
        {{"-mode", "server", "-rate"}, "-rate required in requests per second\n"},
        {{"-mode", "server", "-rate", "0"}, rate_invalid},
        {{"-mode", "server", "-rate", "100001"}, rate_invalid},
        {{"-mode", "server", "-rate", "abc"}, rate_invalid},
        {{"-mode", "server", "-rate", "4294967297"}, rate_invalid},  // must not wrap round to 1
        {{"-mode", "server", "-rate", "0", "-port", "70000"}, rate_invalid},  // first failing check only
        {{"-mode", "server", "-rate", "4", "-port", "70000"}, "-port invalid, must be between '1' and '65535'\n"},
        {{"-mode", "server", "-rate", "4", "-port", "0"}, "-port invalid, must be between '1' and '65535'\n"},
        {{"-mode", "server", "-rate", "4", "-buflen", "0"}, "-buflen invalid, must be between '1' and '100000000'\n"},
        {{"-mode", "server", "-rate", "4", "-buflen", "100000001"},
         "-buflen invalid, must be between '1' and '100000000'\n"},
        {{"-mode", "server", "-rate", "4", "-padlen", "4001"}, "-padlen invalid, must be between '0' and '4000'\n"},
        {{"-mode", "server", "-rate", "4", "-bogus", "1", "-x"},
         "parameter 'bogus' unrecognized\nparameter 'x' unrecognized\n"},
        // "-1" is a name, not a value: -port stays empty and "1" is unrecognized.
        {{"-mode", "server", "-rate", "2", "-port", "-1"}, "parameter '1' unrecognized\n"},
        {{"-mode", "server", "-rate", "2", "--port", "5050"}, "parameter '-port' unrecognized\n"},
        // Unknown names are reported even when validation would also fail.
        {{"-Verbose", "-mode", "nope"}, "parameter 'Verbose' unrecognized\n"},
    };
    for (const rejection& c : cases) {
        const run_result r = run_to_end(build(), c.args, startup());
        std::string shown;
        for (const std::string& a : c.args)
            shown += "[" + a + "] ";
        EXPECT_EQ(r.out, c.message + usage_block()) << shown;
        EXPECT_EQ(r.exit_status, 2) << shown;
    }
}

TEST_P(CommandLine, AHostThatDoesNotResolveIsARejection)
{
    const run_result r = run_to_end(build(), {"-mode", "client", "-host", "no-such-host.invalid", "-rate", "4"}, 30s);
    const std::string head = "-host invalid 'no-such-host.invalid':";
    ASSERT_EQ(r.out.substr(0, head.size()), head) << r.out;
    const std::string rest = r.out.substr(head.size());
    // Which resolver failure it is depends on the name service; either way it is named.
    EXPECT_TRUE(rest == "Host not found\n" + usage_block() ||
                rest == "Nonauthoritative host not found\n" + usage_block())
        << r.out;
    EXPECT_EQ(r.exit_status, 2);
}

TEST_P(CommandLine, AcceptedServerSettingsRunUntilStopped)
{
    // Each runs a server that only says it waits, then stops on Ctrl+C with status 0.
    const std::vector<std::vector<std::string>> cases = {
        {"-mode", "server", "-rate", "100000"},
        {"-MODE", "Server", "-RATE", "2"},                 // names and mode in any case
        {"x", "-mode", "server", "-rate", "1"},            // a value before any name is ignored
        {"-mode", "server", "-rate", "2", "-host", "ignored.example"},
        {"-mode", "server", "-rate", "2", "-padlen", "abc", "-buflen", "4096"},  // abc reads as 0
        {"-mode", "server", "-rate", "3", "-rate", "5"},   // the last value wins
    };
    for (std::vector<std::string> args : cases) {
        args.push_back("-port");
        args.push_back(std::to_string(free_port()));
        child& server = start(args);
        ASSERT_TRUE(read_until_contains(server, "Waiting for connection..\n", startup())) << args[1] << server.out;
        signal_child(server, SIGINT);
        EXPECT_EQ(wait_exit(server, startup()), 0) << args[1];
        EXPECT_EQ(server.out, "Waiting for connection..\n") << args[1];
    }
}

TEST_P(CommandLine, PortReadsLikeStrtolAndDefaultsTo5000)
{
    // "12abc" style: the digits count, the rest is ignored.
    int port = 0;
    fd_guard listener = listen_loopback(AF_INET, &port);
    child& client = start({"-mode", "client", "-host", "127.0.0.1", "-port", std::to_string(port) + "abc",
                           "-rate", "4", "-padlen", "abc"});
    fd_guard conn = accept_within(listener, startup());
    ASSERT_TRUE(conn.valid()) << client.out;
    const std::string message = read_exactly(conn, 10, startup());  // padlen abc reads as 0
    std::string why;
    EXPECT_TRUE(is_framed_stream(message, 0, 5, &why)) << why;
    signal_child(client, SIGINT);
    EXPECT_EQ(wait_exit(client, startup()), 0);

    // "-port" with no value keeps the default.
    if (!port_is_free(5000))
        GTEST_SKIP() << "port 5000 is in use on this machine";
    const run_result r = run_to_end(build(), {"-mode", "client", "-host", "127.0.0.1", "-rate", "4", "-port"},
                                    startup());
    EXPECT_EQ(r.out, "[ERROR] connect failed to 127.0.0.1 on port 5000: Connection refused\n\n");
    EXPECT_EQ(r.exit_status, 1);
}

INSTANTIATE_FOR_EVERY_BUILD(CommandLine);
