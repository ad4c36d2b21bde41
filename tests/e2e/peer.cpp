#include "peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using clock_type = std::chrono::steady_clock;

int remaining_ms(clock_type::time_point deadline)
{
    const auto left = std::chrono::duration_cast<millis>(deadline - clock_type::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool wait_readable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

socklen_t fill_address(int family, const char* host, int port, sockaddr_storage* out)
{
    *out = sockaddr_storage{};
    if (family == AF_INET) {
        auto* a = reinterpret_cast<sockaddr_in*>(out);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, host, &a->sin_addr);
        return sizeof(sockaddr_in);
    }
    auto* a = reinterpret_cast<sockaddr_in6*>(out);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET6, host, &a->sin6_addr);
    return sizeof(sockaddr_in6);
}

int bound_port(int fd)
{
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return a.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port)
                                  : ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
}

} // namespace

fd_guard& fd_guard::operator=(fd_guard&& o) noexcept
{
    if (this != &o) {
        reset();
        fd = o.fd;
        o.fd = -1;
    }
    return *this;
}

fd_guard::~fd_guard()
{
    reset();
}

void fd_guard::reset()
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// A dual-stack socket bound to every address on port (0: any free one).
static fd_guard bind_any(int port)
{
    fd_guard s(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int off = 0;
    setsockopt(s.fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_any;
    a.sin6_port = htons(static_cast<std::uint16_t>(port));
    if (bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return fd_guard{};
    return s;
}

int free_port()
{
    // Ask for an ephemeral port where the server will bind it, then give it back.
    fd_guard s = bind_any(0);
    return s.valid() ? bound_port(s.fd) : -1;
}

bool port_is_free(int port)
{
    return bind_any(port).valid();
}

fd_guard listen_any(int* port)
{
    fd_guard s = bind_any(0);
    if (!s.valid() || listen(s.fd, 16) != 0)
        return fd_guard{};
    *port = bound_port(s.fd);
    return s;
}

fd_guard listen_loopback(int family, int* port, int rcvbuf)
{
    fd_guard s(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (rcvbuf > 0)
        setsockopt(s.fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_storage a{};
    const socklen_t len = fill_address(family, family == AF_INET ? "127.0.0.1" : "::1", 0, &a);
    if (bind(s.fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(s.fd, 16) != 0)
        return fd_guard{};
    *port = bound_port(s.fd);
    return s;
}

fd_guard accept_within(const fd_guard& listener, millis timeout)
{
    if (!wait_readable(listener.fd, static_cast<int>(timeout.count())))
        return fd_guard{};
    return fd_guard(accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
}

fd_guard connect_within(const char* host, int port, millis timeout)
{
    const int family = std::string(host).find(':') != std::string::npos ? AF_INET6 : AF_INET;
    const auto deadline = clock_type::now() + timeout;
    for (;;) {
        fd_guard s(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_storage a{};
        const socklen_t len = fill_address(family, host, port, &a);
        if (connect(s.fd, reinterpret_cast<sockaddr*>(&a), len) == 0)
            return s;
        if (remaining_ms(deadline) == 0)
            return fd_guard{};
        std::this_thread::sleep_for(20ms);
    }
}

std::string read_exactly(const fd_guard& s, std::size_t n, millis timeout)
{
    const auto deadline = clock_type::now() + timeout;
    std::string bytes;
    char buffer[8192];
    while (bytes.size() < n && wait_readable(s.fd, remaining_ms(deadline))) {
        const std::size_t want = std::min(sizeof buffer, n - bytes.size());
        const ssize_t got = recv(s.fd, buffer, want, 0);
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

std::string read_available(const fd_guard& s, millis quiet, millis timeout)
{
    const auto deadline = clock_type::now() + timeout;
    std::string bytes;
    char buffer[65536];
    while (remaining_ms(deadline) > 0 &&
           wait_readable(s.fd, std::min(remaining_ms(deadline), static_cast<int>(quiet.count())))) {
        const ssize_t got = recv(s.fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

bool send_all(const fd_guard& s, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(s.fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void close_with_reset(fd_guard& s)
{
    linger l{1, 0};
    setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    s.reset();
}

bool wait_peer_closed(const fd_guard& s, millis timeout)
{
    const auto deadline = clock_type::now() + timeout;
    char buffer[65536];
    while (wait_readable(s.fd, remaining_ms(deadline))) {
        if (recv(s.fd, buffer, sizeof buffer, 0) <= 0)
            return true;
    }
    return false;
}

std::int64_t unix_now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string make_message(std::int64_t timestamp, int padlen)
{
    return std::to_string(timestamp) + std::string(static_cast<std::size_t>(padlen), '#');
}

bool is_framed_stream(const std::string& bytes, int padlen, std::int64_t tolerance, std::string* why)
{
    const std::size_t size = static_cast<std::size_t>(padlen) + 10;
    if (bytes.size() % size != 0) {
        *why = std::to_string(bytes.size()) + " bytes is not a whole number of " + std::to_string(size) + "-byte messages";
        return false;
    }
    const std::int64_t now = unix_now();
    for (std::size_t at = 0; at < bytes.size(); at += size) {
        const std::string digits = bytes.substr(at, 10);
        if (digits.find_first_not_of("0123456789") != std::string::npos) {
            *why = "message at byte " + std::to_string(at) + " starts with '" + digits + "'";
            return false;
        }
        const std::int64_t ts = std::stoll(digits);
        if (ts < now - tolerance || ts > now + 1) {
            *why = "timestamp " + digits + " is far from now";
            return false;
        }
        if (bytes.compare(at + 10, static_cast<std::size_t>(padlen), std::string(static_cast<std::size_t>(padlen), '#')) != 0) {
            *why = "padding of the message at byte " + std::to_string(at) + " is not all '#'";
            return false;
        }
    }
    return true;
}
