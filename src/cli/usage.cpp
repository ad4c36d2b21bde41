#include "cli/usage.h"

#include "cli/console.h"

namespace {
constexpr const char* program_name = "quorvel";
constexpr const char* example_host = "server.example.com";
} // namespace

void print_usage()
{
    console_print("\nUsage: %s (version %s) \n\nOptions:\n", program_name, QUORVEL_VERSION);
    console_print("  -mode   client|server\n");
    console_print("  -host   ip or hostname, (modes: client)\n");
    console_print("  -port   TCP port (modes: client|server) (Default: 5000)\n");
    console_print("  -rate   tx or rx rate in requests per second (modes: client|server)\n");
    console_print("  -padlen padding bytes must match between client and server (modes: client|server) (Default: 200)\n");
    console_print("  -buflen size of send/receive buffer (modes: client|server) (Default: OS defined)\n");
    console_print("\nExamples:\n");
    console_print("%s -mode client -host %s -port 5050 -rate 4 -padlen 400\n", program_name, example_host);
    console_print("%s -mode server -port 5050 -rate 2 -padlen 400\n", program_name);
    console_print("%s -mode client -host %s  -port 5050 -rate 4 -buflen 4096 -padlen 400\n", program_name,
                example_host);
}
