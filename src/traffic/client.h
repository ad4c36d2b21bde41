#pragma once

struct addrinfo;

// Connects to address and sends one message every 1/rate seconds, never
// waiting for the network: a message that cannot start because the send buffer
// is full is dropped (".") rather than delayed; a started one is always
// finished, so the stream stays framed. host and port only word messages.
// buflen > 0 sets the send buffer. Returns 0 after a stop request, -1 on failure.
int run_client(const char* host, int port, int rate, int buflen, int padlen, const addrinfo* address);
