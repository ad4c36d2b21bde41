#pragma once

// Listens on port for IPv6 and IPv4 clients alike and serves one connection
// at a time: reads a message of padlen + 10 bytes every 1/rate seconds,
// prints its age for every so many messages, and answers with its first half.
// buflen > 0 sets the receive buffers. Returns 0 after a stop request, -1 when
// the listening socket cannot be set up.
int run_server(int port, int rate, int buflen, int padlen);
