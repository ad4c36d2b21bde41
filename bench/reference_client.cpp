// The least a client can do per message: one non-blocking drain receive, the
// same pace wait, one send of a message composed once. It prints nothing and
// checks no stop flag; the bench ends it with a signal.
//
// Usage: bench_ref_client PORT RATE PADLEN   (connects to 127.0.0.1)
#include "pacing/clock.h"
#include "traffic/message.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <fcntl.h>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const int port = std::atoi(argv[1]);
    const cadence pace = cadence_for_rate(std::atoi(argv[2]));
    const int padlen = std::atoi(argv[3]);

    const int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return 1;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    char message[MESSAGE_BUFFER_SIZE];
    char drain[MESSAGE_BUFFER_SIZE];
    const int total = message_compose(message, static_cast<std::int64_t>(std::time(nullptr)), padlen);
    for (;;) {
        (void)recv(fd, drain, sizeof drain, 0);
        pace_wait(pace.interval_ns);
        int sent = 0;
        while (sent < total) {
            const ssize_t n = send(fd, message + sent, static_cast<std::size_t>(total - sent), MSG_NOSIGNAL);
            if (n >= 0) {
                sent += static_cast<int>(n);
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return 1;
            if (sent == 0)
                break;  // dropped, as the program drops it
            pace_wait(pace.interval_ns / 2);
        }
    }
}
