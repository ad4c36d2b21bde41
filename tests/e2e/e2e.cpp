#include "e2e.h"

#include <cstdlib>

void E2eTest::SetUp()
{
    if (build().program.empty())
        GTEST_SKIP() << build().name << " build not given (set QUORVEL_WINDOWS_EXE to a quorvel.exe)";
}

void E2eTest::TearDown()
{
    for (child& c : children_)
        stop_hard(c);
}

child& E2eTest::start(const std::vector<std::string>& args)
{
    return start(build(), args);
}

child& E2eTest::start(const target& t, const std::vector<std::string>& args)
{
    children_.push_back(spawn(t, args));
    EXPECT_GT(children_.back().pid, 0) << "could not start " << t.program;
    return children_.back();
}

child& E2eTest::start_server(int* port, const std::vector<std::string>& extra)
{
    *port = free_port();
    return start_server_on(build(), *port, extra);
}

child& E2eTest::start_server_on(const target& t, int port, const std::vector<std::string>& extra)
{
    std::vector<std::string> args = {"-mode", "server", "-port", std::to_string(port)};
    args.insert(args.end(), extra.begin(), extra.end());
    child& server = start(t, args);
    EXPECT_TRUE(read_until_contains(server, "Waiting for connection..\n", startup() * 4)) << server.out;
    return server;
}

millis E2eTest::stop_bound() const
{
    // Linux ends a sleep at the signal. The Windows console handler cannot
    // interrupt a sleep, so a stop may take up to one interval (1 s at rate 1)
    // there, plus Wine's own delivery.
    return build().is_wine() ? 3000ms : 800ms;
}

std::string usage_block()
{
    return std::string("\nUsage: quorvel (version ") + QUORVEL_VERSION + ") \n\nOptions:\n"
        "  -mode   client|server\n"
        "  -host   ip or hostname, (modes: client)\n"
        "  -port   TCP port (modes: client|server) (Default: 5000)\n"
        "  -rate   tx or rx rate in requests per second (modes: client|server)\n"
        "  -padlen padding bytes must match between client and server (modes: client|server) (Default: 200)\n"
        "  -buflen size of send/receive buffer (modes: client|server) (Default: OS defined)\n"
        "\nExamples:\n"
        "quorvel -mode client -host server.example.com -port 5050 -rate 4 -padlen 400\n"
        "quorvel -mode server -port 5050 -rate 2 -padlen 400\n"
        "quorvel -mode client -host server.example.com  -port 5050 -rate 4 -buflen 4096 -padlen 400\n";
}

bool ends_with_send_failure(const std::string& out)
{
    for (const char* reason : {"Connection reset by peer", "Broken pipe", "Software caused connection abort"}) {
        const std::string tail = std::string("\n[ERROR] send failed: ") + reason + "\n\n";
        if (out.ends_with(tail))
            return out.substr(0, out.size() - tail.size()).find_first_not_of("#.") == std::string::npos;
    }
    return false;
}

std::vector<target> builds_under_test()
{
    const char* windows_exe = std::getenv("QUORVEL_WINDOWS_EXE");
    const char* launcher = std::getenv("QUORVEL_WINE");
    return {
        target{"Linux", {}, QUORVEL_PROGRAM, false},
        target{"Windows", {launcher && *launcher ? launcher : "wine"}, windows_exe ? windows_exe : "", true},
    };
}

std::string build_name(const ::testing::TestParamInfo<target>& info)
{
    return info.param.name;
}
