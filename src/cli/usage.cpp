#include "cli/usage.h"

#include <cstdio>

namespace {
constexpr const char* program_name = "quorvel";
constexpr const char* example_host = "server.example.com";
} // namespace

void print_usage()
{
    std::printf("\nUsage: %s (version %s) \n\nOptions:\n", program_name, QUORVEL_VERSION);
    std::printf("  -mode   client|server\n");
    std::printf("  -host   ip or hostname, (modes: client)\n");
    std::printf("  -port   TCP port (modes: client|server) (Default: 5000)\n");
    std::printf("  -rate   tx or rx rate in requests per second (modes: client|server)\n");
    std::printf("  -padlen padding bytes must match between client and server (modes: client|server) (Default: 200)\n");
    std::printf("  -buflen size of send/receive buffer (modes: client|server) (Default: OS defined)\n");
    std::printf("\nExamples:\n");
    std::printf("%s -mode client -host %s -port 5050 -rate 4 -padlen 400\n", program_name, example_host);
    std::printf("%s -mode server -port 5050 -rate 2 -padlen 400\n", program_name);
    std::printf("%s -mode client -host %s  -port 5050 -rate 4 -buflen 4096 -padlen 400\n", program_name,
                example_host);
}
