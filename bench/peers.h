// The bench's own ends of the connection, each on threads of the bench:
// a sink that takes the client's bytes as fast as they come, and a flood that
// keeps a server's receive queue full and takes its replies as fast as they come.
// Both only count; nothing here knows the program.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

// Listens on 127.0.0.1, accepts one connection and reads until it closes.
struct sink_peer {
    int listener = -1;
    int port = 0;
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::int64_t> first_byte_ns{0};  // 0 until something arrived
    std::thread reader;
};

bool sink_start(sink_peer* sink);
// Waits for the reader to finish (the other end closed); gives up waiting for
// a connection that never came.
void sink_join(sink_peer* sink);

// Connects to 127.0.0.1:port, sends well-formed messages of padlen padding
// for as long as the connection takes them, and counts the reply bytes.
struct flood_peer {
    int fd = -1;
    int padlen = 0;
    std::atomic<std::uint64_t> reply_bytes{0};
    std::atomic<std::int64_t> first_reply_ns{0};
    std::atomic<bool> quit{false};
    std::thread sender;
    std::thread reader;
};

// Retries the connection while it is refused, up to timeout_ms.
bool flood_start(flood_peer* flood, int port, int padlen, int timeout_ms);
void flood_join(flood_peer* flood);

// Keeps the peers' threads started from now on to one processor (-1: any).
void peers_pin(int cpu);

// Keeps a thread (0: the calling one) or a single-threaded process to one processor.
void pin_to_cpu(int tid, int cpu);

// A port that nothing listened on a moment ago.
int free_port();

// Waits until *value is non-zero or timeout_ms passes; true when it is.
bool wait_nonzero(const std::atomic<std::int64_t>& value, int timeout_ms);
