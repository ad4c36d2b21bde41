#include "relay.h"

#include <poll.h>
#include <sys/socket.h>

relay::relay(int target_port)
{
    listener_ = listen_loopback(AF_INET, &port_);
    worker_ = std::thread([this, target_port] { run(target_port); });
}

relay::~relay()
{
    stop_ = true;
    worker_.join();
}

std::string relay::upstream()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return up_;
}

std::string relay::downstream()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return down_;
}

void relay::run(int target_port)
{
    fd_guard client;
    while (!stop_ && !client.valid())
        client = accept_within(listener_, 100ms);
    if (!client.valid())
        return;
    fd_guard server = connect_within("127.0.0.1", target_port, 5s);
    if (!server.valid())
        return;

    // Forward until either side closes; a close is passed on as a close.
    char buffer[65536];
    while (!stop_) {
        pollfd fds[2] = {{client.fd, POLLIN, 0}, {server.fd, POLLIN, 0}};
        if (poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            fd_guard& from = i == 0 ? client : server;
            fd_guard& to = i == 0 ? server : client;
            const ssize_t got = recv(from.fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                return;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                (i == 0 ? up_ : down_).append(buffer, static_cast<std::size_t>(got));
            }
            if (!send_all(to, std::string(buffer, static_cast<std::size_t>(got))))
                return;
        }
    }
}
