#include "cli/stop.h"

#include <csignal>

namespace {

void on_stop_signal(int)
{
    stop_requested.store(1, std::memory_order_relaxed);
}

} // namespace

int install_stop_handler()
{
    struct sigaction action{};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a sleep or blocking call ends at the signal, so the loop
    // sees the request at once instead of after a whole interval.
    action.sa_flags = 0;
    // Ctrl+C, Ctrl+\ (the terminal's Ctrl+Break) and the usual polite kill.
    for (int signal_number : {SIGINT, SIGQUIT, SIGTERM}) {
        if (sigaction(signal_number, &action, nullptr) != 0)
            return -1;
    }
    return 0;
}
