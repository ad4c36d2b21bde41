#include "peers.h"

#include "pacing/clock.h"
#include "traffic/message.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

std::atomic<int> peer_cpu{-1};

void pin_peer_thread()
{
    if (peer_cpu.load() >= 0)
        pin_to_cpu(0, peer_cpu.load());
}

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void sink_read(sink_peer* sink)
{
    pin_peer_thread();
    pollfd waiting{sink->listener, POLLIN, 0};
    if (poll(&waiting, 1, 30'000) <= 0 || (waiting.revents & POLLIN) == 0)
        return;
    const int fd = accept(sink->listener, nullptr, nullptr);
    if (fd < 0)
        return;
    static thread_local char buffer[1 << 18];
    for (;;) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        if (sink->first_byte_ns.load() == 0)
            sink->first_byte_ns.store(clock_ns());
        sink->bytes.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
    }
    close(fd);
}

// Whole messages with the current timestamp, as many as fit in about 64 KiB.
int compose_chunk(std::vector<char>* chunk, int padlen)
{
    const int length = message_length(padlen);
    const int count = length >= 65536 ? 1 : 65536 / length;
    chunk->resize(static_cast<std::size_t>(count) * MESSAGE_BUFFER_SIZE);
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    int filled = 0;
    for (int i = 0; i < count; ++i)
        filled += message_compose(chunk->data() + filled, now, padlen);
    return filled;
}

void flood_send(flood_peer* flood)
{
    pin_peer_thread();
    std::vector<char> chunk;
    while (!flood->quit.load()) {
        const int length = compose_chunk(&chunk, flood->padlen);
        int sent = 0;
        while (sent < length) {
            const ssize_t n = send(flood->fd, chunk.data() + sent, static_cast<std::size_t>(length - sent),
                                   MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return;  // the server has gone
            }
            sent += static_cast<int>(n);
        }
    }
}

void flood_read(flood_peer* flood)
{
    pin_peer_thread();
    static thread_local char buffer[1 << 18];
    for (;;) {
        const ssize_t got = recv(flood->fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        if (flood->first_reply_ns.load() == 0)
            flood->first_reply_ns.store(clock_ns());
        flood->reply_bytes.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
    }
    // The server closed (or reset) the connection: stop sending too.
    flood->quit.store(true);
    shutdown(flood->fd, SHUT_RDWR);
}

} // namespace

bool sink_start(sink_peer* sink)
{
    sink->listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (sink->listener < 0 || bind(sink->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(sink->listener, 1) != 0 ||
        getsockname(sink->listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    sink->port = ntohs(address.sin_port);
    sink->reader = std::thread(sink_read, sink);
    return true;
}

void sink_join(sink_peer* sink)
{
    // Wakes a reader still waiting for a connection; an accepted one is not affected.
    shutdown(sink->listener, SHUT_RDWR);
    if (sink->reader.joinable())
        sink->reader.join();
    close(sink->listener);
}

bool flood_start(flood_peer* flood, int port, int padlen, int timeout_ms)
{
    flood->padlen = padlen;
    const std::int64_t give_up = clock_ns() + std::int64_t{timeout_ms} * 1'000'000;
    for (;;) {
        flood->fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        const sockaddr_in address = loopback(port);
        if (connect(flood->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            break;
        close(flood->fd);
        flood->fd = -1;
        if (clock_ns() > give_up)
            return false;
        usleep(20'000);
    }
    flood->sender = std::thread(flood_send, flood);
    flood->reader = std::thread(flood_read, flood);
    return true;
}

void flood_join(flood_peer* flood)
{
    if (flood->reader.joinable())
        flood->reader.join();
    if (flood->sender.joinable())
        flood->sender.join();
    if (flood->fd >= 0)
        close(flood->fd);
}

void peers_pin(int cpu)
{
    peer_cpu.store(cpu);
}

void pin_to_cpu(int tid, int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(tid, sizeof set, &set);
}

int free_port()
{
    const int fd = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    const int off = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    socklen_t length = sizeof address;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin6_port);
    close(fd);
    return port;
}

bool wait_nonzero(const std::atomic<std::int64_t>& value, int timeout_ms)
{
    const std::int64_t give_up = clock_ns() + std::int64_t{timeout_ms} * 1'000'000;
    while (value.load() == 0) {
        if (clock_ns() > give_up)
            return false;
        usleep(1'000);
    }
    return true;
}
