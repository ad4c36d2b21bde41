// The least a server can do per message: the same pace wait, a read of
// exactly padlen + 10 bytes (waiting half an interval when none are there),
// one reply send of the first half. It serves one connection and exits when
// the peer closes; it prints nothing and checks no stop flag.
//
// Usage: bench_ref_server PORT RATE PADLEN   (listens on every address)
#include "pacing/clock.h"
#include "traffic/message.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const int port = std::atoi(argv[1]);
    const cadence pace = cadence_for_rate(std::atoi(argv[2]));
    const int need = message_length(std::atoi(argv[3]));

    // The same kind of listener as the program's: dual-stack, any address.
    const int listener = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    const int off = 0, on = 1;
    setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(static_cast<std::uint16_t>(port));
    if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, SOMAXCONN) != 0)
        return 1;
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0)
        return 1;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    char buffer[MESSAGE_BUFFER_SIZE];
    for (;;) {
        pace_wait(pace.interval_ns);
        int filled = 0;
        while (filled < need) {
            const ssize_t got = recv(fd, buffer + filled, static_cast<std::size_t>(need - filled), 0);
            if (got > 0) {
                filled += static_cast<int>(got);
            } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                return 0;
            } else {
                pace_wait(pace.interval_ns / 2);
            }
        }
        (void)send(fd, buffer, static_cast<std::size_t>(need / 2), MSG_NOSIGNAL);
    }
}
