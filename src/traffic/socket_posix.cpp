#include "traffic/socket.h"

#include "traffic/errno_codes_posix.h"
#include "traffic/lookup.h"

#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int as_fd(net_socket s) { return static_cast<int>(s); }

int set_int_option(net_socket s, int level, int name, int value)
{
    return setsockopt(as_fd(s), level, name, &value, sizeof value) == 0 ? 0 : -1;
}

net_socket open_stream(int family)
{
    // Close-on-exec so that a program we might start never inherits a connection.
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return fd < 0 ? NET_INVALID : fd;
}

} // namespace

int net_startup()
{
    return 0;  // nothing to start on this platform
}

int net_last_error()
{
    return net_code_from_errno(errno);
}

int net_lookup(const char* host, const char* port_text, bool literal_only, addrinfo** list)
{
    addrinfo hints{};
    hints.ai_flags = literal_only ? AI_NUMERICHOST : AI_ADDRCONFIG;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    int result = getaddrinfo(host, port_text, &hints, list);
    return result == 0 ? 0 : net_code_from_resolver(result, errno);
}

void net_free_addresses(addrinfo* list)
{
    if (list)
        freeaddrinfo(list);
}

net_socket net_open_for(const addrinfo* address)
{
    return open_stream(address->ai_family);
}

net_socket net_open_ipv6()
{
    return open_stream(AF_INET6);
}

int net_connect(net_socket s, const addrinfo* address)
{
    return connect(as_fd(s), address->ai_addr, address->ai_addrlen) == 0 ? 0 : -1;
}

int net_set_dual_stack(net_socket s)
{
    return set_int_option(s, IPPROTO_IPV6, IPV6_V6ONLY, 0);
}

int net_set_reuse_address(net_socket s)
{
    return set_int_option(s, SOL_SOCKET, SO_REUSEADDR, 1);
}

int net_set_receive_buffer(net_socket s, int bytes)
{
    return set_int_option(s, SOL_SOCKET, SO_RCVBUF, bytes);
}

int net_set_send_buffer(net_socket s, int bytes)
{
    return set_int_option(s, SOL_SOCKET, SO_SNDBUF, bytes);
}

int net_set_nonblocking(net_socket s)
{
    int on = 1;
    return ioctl(as_fd(s), FIONBIO, &on) == 0 ? 0 : -1;
}

int net_bind_any(net_socket s, int port)
{
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(static_cast<std::uint16_t>(port));
    return bind(as_fd(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : -1;
}

int net_listen(net_socket s)
{
    return listen(as_fd(s), SOMAXCONN) == 0 ? 0 : -1;
}

int net_local_port(net_socket s)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(as_fd(s), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    return -1;
}

net_socket net_accept(net_socket listener)
{
    int fd = accept4(as_fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? NET_INVALID : fd;
}

std::intptr_t net_send(net_socket s, const void* bytes, std::size_t count)
{
    // MSG_NOSIGNAL: a peer that went away is an error code, not SIGPIPE.
    return send(as_fd(s), bytes, count, MSG_NOSIGNAL);
}

std::intptr_t net_receive(net_socket s, void* buffer, std::size_t capacity)
{
    return recv(as_fd(s), buffer, capacity, 0);
}

void net_close(net_socket s)
{
    if (s != NET_INVALID)
        close(as_fd(s));
}
