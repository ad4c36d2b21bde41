#include "traffic/server.h"

#include "cli/console.h"
#include "cli/error_text.h"
#include "cli/stop.h"
#include "pacing/clock.h"
#include "traffic/message.h"
#include "traffic/socket.h"

#include <cstdint>
#include <ctime>

namespace {

// Accept polls four times a second so that a stop request is seen quickly.
constexpr std::int64_t accept_poll_ms = 250;

struct connection_state {
    cadence pace;
    int need;                // bytes in one message
    std::uint32_t counter;   // runs on across connections
    char buffer[MESSAGE_BUFFER_SIZE];
};

const char* last_error_text()
{
    return error_text(net_last_error());
}

enum class read_outcome { whole, stopped, ended };

// Reads exactly state->need bytes, waiting half an interval whenever none are
// there. An ended connection has been reported when this returns.
read_outcome read_message(net_socket conn, connection_state* state)
{
    int filled = 0;
    while (filled < state->need) {
        if (stop_is_requested())
            return read_outcome::stopped;
        const std::intptr_t got = net_receive(conn, state->buffer + filled,
                                              static_cast<std::size_t>(state->need - filled));
        if (got > 0) {
            filled += static_cast<int>(got);
        } else if (got == 0) {
            console_print("Connection closed\n");
            return read_outcome::ended;
        } else {
            const int error = net_last_error();
            if (error != NET_WOULD_BLOCK) {
                console_print("[WARNING] Receive failure: %s\n", error_text(error));
                return read_outcome::ended;
            }
            pace_wait(state->pace.interval_ns / 2);
        }
    }
    return read_outcome::whole;
}

// Serves one connection until the peer closes, something fails or a stop is requested.
void serve_connection(net_socket conn, connection_state* state)
{
    while (!stop_is_requested()) {
        pace_wait(state->pace.interval_ns);
        const read_outcome outcome = read_message(conn, state);
        if (outcome == read_outcome::ended)
            return;
        if (outcome == read_outcome::stopped)
            continue;  // the loop test ends the connection

        state->buffer[state->need] = '\0';
        std::int64_t timestamp = 0;
        const int scanned = message_parse(state->buffer, &timestamp);
        if (scanned != 1) {
            console_print("[ERROR] rx parse failed: %d\n", scanned);
            return;
        }
        if (cadence_reports(state->pace, state->counter)) {
            const std::int64_t age = message_age(static_cast<std::int64_t>(std::time(nullptr)), timestamp);
            console_print("%lld\n", static_cast<long long>(age));
        }
        ++state->counter;

        // One send of the first half; a short or refused reply is simply lost.
        if (net_send(conn, state->buffer, static_cast<std::size_t>(state->need / 2)) < 0) {
            const int error = net_last_error();
            if (error != NET_WOULD_BLOCK) {
                console_print("[WARNING] Send failure: %s\n", error_text(error));
                return;
            }
        }
    }
}

// Prints a set-up failure, closes the listener and gives the run's result.
int setup_failed(net_socket listener, const char* format_with_text)
{
    console_print(format_with_text, last_error_text());
    net_close(listener);
    return -1;
}

} // namespace

int run_server(int port, int rate, int buflen, int padlen)
{
    connection_state state{};
    state.pace = cadence_for_rate(rate);
    state.need = message_length(padlen);

    const net_socket listener = net_open_ipv6();
    if (listener == NET_INVALID)
        return setup_failed(listener, "[ERROR] Socket allocation failed: %s\n");
    if (net_set_dual_stack(listener) != 0)
        return setup_failed(listener, "[ERROR] Set dualstack socket failed: %s\n");
    if (net_set_reuse_address(listener) != 0)
        return setup_failed(listener, "[ERROR] Set reuse address failed: %s\n");
    if (net_set_nonblocking(listener) != 0)
        return setup_failed(listener, "[ERROR] Failed to enter nonblocking mode: %s\n");
    // Not fatal on the listener: the accepted sockets get their own try.
    if (buflen > 0 && net_set_receive_buffer(listener, buflen) != 0)
        console_print("[ERROR] Failed to set receive buffer to %d: %s\n", buflen, last_error_text());
    if (net_bind_any(listener, port) != 0) {
        console_print("[ERROR] Bind failed to port %d: %s\n", port, last_error_text());
        net_close(listener);
        return -1;
    }
    if (net_listen(listener) != 0) {
        console_print("[ERROR] Could not listen on port %d: %s\n", port, last_error_text());
        net_close(listener);
        return -1;
    }
    console_print("Waiting for connection..\n");

    while (!stop_is_requested()) {
        sleep_ms(accept_poll_ms);
        if (stop_is_requested())
            break;  // woken by the stop: take no further client
        const net_socket conn = net_accept(listener);
        if (conn == NET_INVALID)
            continue;  // nobody waiting, or a failed accept: poll again
        console_print("Accepted connection..\n");
        if (net_set_nonblocking(conn) == 0) {
            if (buflen > 0 && net_set_receive_buffer(conn, buflen) != 0)
                console_print("[ERROR] Failed to set receive buffer to %d: %s\n", buflen, last_error_text());
            else
                serve_connection(conn, &state);
        }
        net_close(conn);
        console_print("Waiting for connection..\n");
    }
    net_close(listener);
    return 0;
}
