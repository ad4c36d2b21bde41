#include "traffic/client.h"

#include "cli/console.h"
#include "cli/error_text.h"
#include "cli/stop.h"
#include "pacing/clock.h"
#include "traffic/message.h"
#include "traffic/socket.h"

#include <cstdint>
#include <ctime>

namespace {

// Sends until a stop request (0) or a hard send failure (-1, reported here).
int send_messages(net_socket s, const cadence& pace, int padlen)
{
    // The message is kept between sends (only its timestamp ever changes), so
    // replies are drained into a buffer of their own rather than over it.
    message_draft message;
    char replies[MESSAGE_BUFFER_SIZE];
    std::uint32_t counter = 0;
    while (!stop_is_requested()) {
        // Whatever comes back (bytes, a close, an error) is of no interest.
        (void)net_receive(s, replies, sizeof replies);
        pace_wait(pace.interval_ns);

        const int total = message_draft_update(&message, static_cast<std::int64_t>(std::time(nullptr)), padlen);
        int sent = 0;
        while (sent < total && !stop_is_requested()) {
            const std::intptr_t n = net_send(s, message.bytes + sent, static_cast<std::size_t>(total - sent));
            if (n >= 0) {
                sent += static_cast<int>(n);
                continue;
            }
            const int error = net_last_error();
            if (error != NET_WOULD_BLOCK) {
                console_print("\n[ERROR] send failed: %s\n", error_text(error));
                return -1;
            }
            if (sent == 0)
                break;  // the buffer is full before this message began: drop it whole
            pace_wait(pace.interval_ns / 2);  // finish what was started, so the stream stays framed
        }
        if (cadence_reports(pace, counter))
            console_print("%s", sent == total ? "#" : ".");
        ++counter;
    }
    return 0;
}

// Reads and drops the replies already waiting, so that the close ends the
// connection in order: closing over unread bytes would reset it instead, and
// the server would report a failure where its client simply left.
void discard_waiting_replies(net_socket s)
{
    char buffer[MESSAGE_BUFFER_SIZE];
    // Bounded: a server still replying must not keep a stopping client here.
    for (int reads = 0; reads < 64 && net_receive(s, buffer, sizeof buffer) > 0; ++reads) {
    }
}

int connect_and_send(net_socket s, const char* host, int port, int rate, int buflen, int padlen,
                     const addrinfo* address)
{
    if (net_connect(s, address) != 0) {
        const int error = net_last_error();
        // A stop request interrupted the connect: that is a stop, not a failure.
        if (error == NET_INTERRUPTED && stop_is_requested())
            return 0;
        console_print("[ERROR] connect failed to %s on port %d: %s\n", host, port, error_text(error));
        return -1;
    }
    if (buflen > 0 && net_set_send_buffer(s, buflen) != 0) {
        console_print("[ERROR] Failed to set send buffer to %d: %s\n", buflen, error_text(net_last_error()));
        return -1;
    }
    if (net_set_nonblocking(s) != 0) {
        console_print("[ERROR] Failed to make socket nonblocking: %s\n", error_text(net_last_error()));
        return -1;
    }
    const int result = send_messages(s, cadence_for_rate(rate), padlen);
    discard_waiting_replies(s);
    return result;
}

} // namespace

int run_client(const char* host, int port, int rate, int buflen, int padlen, const addrinfo* address)
{
    const net_socket s = net_open_for(address);
    int result = -1;
    if (s == NET_INVALID)
        console_print("[ERROR] Socket allocation failed: %s\n", error_text(net_last_error()));
    else
        result = connect_and_send(s, host, port, rate, buflen, padlen, address);
    console_print("\n");  // ends the line of marks, also after an error message
    net_close(s);
    return result;
}
