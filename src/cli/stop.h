// The process-wide stop request: raised once by the console's interrupt
// (Ctrl+C and its kin), never cleared, polled by every loop.
#pragma once

#include <atomic>
#include <cstdint>

inline std::atomic<std::uint8_t> stop_requested{0};
static_assert(std::atomic<std::uint8_t>::is_always_lock_free,
              "the stop flag is set from a signal handler or another thread");

inline bool stop_is_requested()
{
    return stop_requested.load(std::memory_order_relaxed) != 0;
}

// Registers the handler that raises stop_requested; 0 on success.
int install_stop_handler();
