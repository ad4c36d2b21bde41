#include "traffic/socket.h"

#include "traffic/lookup.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

// Winsock already numbers its failures (WSAGetLastError) and the resolver's
// results the way the error table does, so codes pass through unchanged.

namespace {

SOCKET as_handle(net_socket s) { return static_cast<SOCKET>(s); }

net_socket from_handle(SOCKET h)
{
    return h == INVALID_SOCKET ? NET_INVALID : static_cast<net_socket>(h);
}

int set_int_option(net_socket s, int level, int name, int value)
{
    return setsockopt(as_handle(s), level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0
        ? 0 : -1;
}

net_socket open_stream(int family)
{
    // Not inheritable, so that a program we might start never holds a connection open.
    // WSA_FLAG_OVERLAPPED keeps the handle exactly like one from socket().
    return from_handle(WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
}

// Send and receive take an int count; a larger request is simply served in part.
int as_count(std::size_t count)
{
    return count > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
}

} // namespace

int net_startup()
{
    WSADATA data;
    const int result = WSAStartup(MAKEWORD(2, 2), &data);
    if (result != 0)
        return result;
    // A library that only offers an older version still starts; we cannot use it.
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        return WSAVERNOTSUPPORTED;
    }
    return 0;
}

int net_last_error()
{
    return WSAGetLastError();
}

int net_lookup(const char* host, const char* port_text, bool literal_only, addrinfo** list)
{
    addrinfo hints{};
    hints.ai_flags = literal_only ? AI_NUMERICHOST : AI_ADDRCONFIG;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    return getaddrinfo(host, port_text, &hints, list);
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
    return connect(as_handle(s), address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0 ? 0 : -1;
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
    u_long on = 1;
    return ioctlsocket(as_handle(s), FIONBIO, &on) == 0 ? 0 : -1;
}

int net_bind_any(net_socket s, int port)
{
    // Zero-filled, the address is the IPv6 any-address (::).
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<u_short>(port));
    return bind(as_handle(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : -1;
}

int net_listen(net_socket s)
{
    return listen(as_handle(s), SOMAXCONN) == 0 ? 0 : -1;
}

int net_local_port(net_socket s)
{
    sockaddr_storage address{};
    int length = sizeof address;
    if (getsockname(as_handle(s), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    return -1;
}

net_socket net_accept(net_socket listener)
{
    return from_handle(accept(as_handle(listener), nullptr, nullptr));
}

std::intptr_t net_send(net_socket s, const void* bytes, std::size_t count)
{
    // No flag needed: Winsock never raises a signal for a peer that went away.
    return send(as_handle(s), static_cast<const char*>(bytes), as_count(count), 0);
}

std::intptr_t net_receive(net_socket s, void* buffer, std::size_t capacity)
{
    return recv(as_handle(s), static_cast<char*>(buffer), as_count(capacity), 0);
}

void net_close(net_socket s)
{
    if (s != NET_INVALID)
        closesocket(as_handle(s));
}
