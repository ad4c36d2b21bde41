// A transparent TCP relay on loopback that records both directions, so a test
// can see exactly what one real end sent the other.
#pragma once

#include "peer.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class relay {
public:
    // Listens on 127.0.0.1 (port()) and forwards one connection to 127.0.0.1:target_port.
    explicit relay(int target_port);
    ~relay();
    relay(const relay&) = delete;
    relay& operator=(const relay&) = delete;

    int port() const { return port_; }
    std::string upstream();    // client to server, so far
    std::string downstream();  // server to client, so far

private:
    void run(int target_port);

    fd_guard listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string up_, down_;
    std::thread worker_;
};
