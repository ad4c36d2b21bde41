// Raw TCP peers on loopback, written from scratch for the tests, so the
// program is checked against bytes on the wire rather than against itself.
#pragma once

#include "process.h"

#include <cstdint>
#include <string>

// A socket descriptor that closes itself.
struct fd_guard {
    int fd = -1;
    fd_guard() = default;
    explicit fd_guard(int f) : fd(f) {}
    fd_guard(fd_guard&& o) noexcept : fd(o.fd) { o.fd = -1; }
    fd_guard& operator=(fd_guard&& o) noexcept;
    fd_guard(const fd_guard&) = delete;
    fd_guard& operator=(const fd_guard&) = delete;
    ~fd_guard();
    void reset();
    bool valid() const { return fd >= 0; }
};

// A port that was free a moment ago (on both IPv4 and IPv6).
int free_port();

// True when nothing listens on port and it could be taken.
bool port_is_free(int port);

// A listener on the loopback address of family (AF_INET or AF_INET6), on a
// free port; rcvbuf > 0 sets a small receive buffer before listening.
fd_guard listen_loopback(int family, int* port, int rcvbuf = 0);

// A dual-stack listener on every address, as a server holds its port.
fd_guard listen_any(int* port);

// Waits for a connection on listener.
fd_guard accept_within(const fd_guard& listener, millis timeout);

// Connects to host:port (numeric), retrying until the timeout while refused.
fd_guard connect_within(const char* host, int port, millis timeout);

// Reads exactly n bytes unless the peer closes or the time is up.
std::string read_exactly(const fd_guard& s, std::size_t n, millis timeout);

// Reads whatever arrives until the peer closes, nothing came for quiet, or
// the total time is up.
std::string read_available(const fd_guard& s, millis quiet, millis timeout);

// Sends every byte; false on error.
bool send_all(const fd_guard& s, const std::string& bytes);

// Closes with a reset instead of an orderly close.
void close_with_reset(fd_guard& s);

// Waits until the peer has closed (a read returns 0 or an error).
bool wait_peer_closed(const fd_guard& s, millis timeout);

// Seconds since 1970 now.
std::int64_t unix_now();

// A message as the client composes it: the timestamp, then padlen '#'.
std::string make_message(std::int64_t timestamp, int padlen);

// True when bytes is a whole number of messages of padlen padding, each a
// 10-digit timestamp within tolerance seconds of now, then padlen '#'.
bool is_framed_stream(const std::string& bytes, int padlen, std::int64_t tolerance, std::string* why);
