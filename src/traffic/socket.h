// A thin layer over the platform's BSD-style socket calls.
//
// Calls that can fail return -1 (or NET_INVALID for a handle) and leave the
// cause for net_last_error(), which reports it in the numbering of the error
// table (error_text), whatever the platform's own numbers are: would-block is
// always NET_WOULD_BLOCK. Ask for it at once, before any other call.
#pragma once

#include <cstddef>
#include <cstdint>

struct addrinfo;  // the resolver's list entry, the same type on every platform

using net_socket = std::intptr_t;
constexpr net_socket NET_INVALID = -1;

constexpr int NET_WOULD_BLOCK = 10035;
constexpr int NET_INTERRUPTED = 10004;

// Starts the socket library; 0 when ready, otherwise an error code.
int net_startup();

// The code of the calling thread's last failed socket call.
int net_last_error();

// Resolves host and port for a TCP connection. 0 and *list on success, else an
// error code. An address literal is taken as it stands; a name is looked up
// only for the address families this host has configured.
int net_resolve(const char* host, int port, addrinfo** list);
void net_free_addresses(addrinfo* list);

// A TCP socket of the family of address (client), or an IPv6 one (server).
net_socket net_open_for(const addrinfo* address);
net_socket net_open_ipv6();

// Blocking connect to address; 0 on success.
int net_connect(net_socket s, const addrinfo* address);

// Socket options, each 0 on success.
int net_set_dual_stack(net_socket s);        // an IPv6 socket that takes IPv4 peers too
int net_set_reuse_address(net_socket s);
int net_set_receive_buffer(net_socket s, int bytes);
int net_set_send_buffer(net_socket s, int bytes);
int net_set_nonblocking(net_socket s);       // accept, recv and send never wait again

// Binds to the IPv6 any-address on port and listens with the largest backlog.
int net_bind_any(net_socket s, int port);
int net_listen(net_socket s);

// The port a bound socket has, or -1.
int net_local_port(net_socket s);

// Takes a pending connection without asking for the peer's address.
net_socket net_accept(net_socket listener);

// Bytes taken or received, 0 from receive when the peer closed, -1 on failure.
// A send never raises a signal when the peer has gone away.
std::intptr_t net_send(net_socket s, const void* bytes, std::size_t count);
std::intptr_t net_receive(net_socket s, void* buffer, std::size_t capacity);

// Closes a handle; NET_INVALID is ignored.
void net_close(net_socket s);
