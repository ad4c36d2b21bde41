// quorvel: one TCP connection under a controlled load.
//
// The order of a run: socket library, stop handler, command line, (client)
// the server's address, one loop until a stop request or a failure, teardown.

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/error_text.h"
#include "cli/stop.h"
#include "cli/usage.h"
#include "traffic/client.h"
#include "traffic/server.h"
#include "traffic/socket.h"

int main(int argc, char** argv)
{
    // Marks and lines must reach a pipe or a file the moment they happen.
    console_init();

    const int startup = net_startup();
    if (startup != 0) {
        console_print("[ERROR] winsock startup failed: %s\n", error_text(startup));
        return EXIT_FAILED;
    }
    install_stop_handler();

    strmap* map = nullptr;
    settings run{};
    int status = read_command_line(argc, argv, &map, &run);

    addrinfo* addresses = nullptr;
    if (status == COMMAND_LINE_ACCEPTED && run.client_mode) {
        const int resolved = net_resolve(run.host, run.port, &addresses);
        if (resolved != 0) {
            console_print("-host invalid '%s':%s\n", run.host, error_text(resolved));
            print_usage();
            status = EXIT_REJECTED;
        }
    }

    if (status == COMMAND_LINE_ACCEPTED) {
        const int result = run.server_mode
            ? run_server(run.port, run.rate, run.buflen, run.padlen)
            : run_client(run.host, run.port, run.rate, run.buflen, run.padlen, addresses);
        status = result == 0 ? EXIT_STOPPED : EXIT_FAILED;
    }

    net_free_addresses(addresses);
    strmap_destroy(map);
    return status;
}
