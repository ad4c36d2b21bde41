#include "traffic/socket.h"

#include "pacing/clock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Opens sockets on loopback and closes every one of them, whatever the test did.
class SocketTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(net_startup(), 0); }

    void TearDown() override
    {
        for (net_socket s : opened_)
            net_close(s);
        for (addrinfo* list : resolved_)
            net_free_addresses(list);
    }

    net_socket keep(net_socket s)
    {
        if (s != NET_INVALID)
            opened_.push_back(s);
        return s;
    }

    void close_now(net_socket s)
    {
        std::erase(opened_, s);
        net_close(s);
    }

    // A dual-stack listener on a free port.
    net_socket listener(int* port)
    {
        net_socket s = keep(net_open_ipv6());
        EXPECT_NE(s, NET_INVALID);
        EXPECT_EQ(net_set_dual_stack(s), 0);
        EXPECT_EQ(net_bind_any(s, 0), 0);
        EXPECT_EQ(net_listen(s), 0);
        *port = net_local_port(s);
        EXPECT_GT(*port, 0);
        return s;
    }

    const addrinfo* resolve(const char* host, int port)
    {
        addrinfo* list = nullptr;
        EXPECT_EQ(net_resolve(host, port, &list), 0) << host;
        if (list)
            resolved_.push_back(list);
        return list;
    }

    // Connects to port; returns the handle or NET_INVALID with the code in *error.
    net_socket connect_to(const char* host, int port, int* error = nullptr)
    {
        const addrinfo* address = resolve(host, port);
        if (!address)
            return NET_INVALID;
        net_socket s = keep(net_open_for(address));
        if (net_connect(s, address) != 0) {
            if (error)
                *error = net_last_error();
            return NET_INVALID;
        }
        return s;
    }

    // Accepts the connection that a connect to the listener just made.
    net_socket accept_from(net_socket listening)
    {
        EXPECT_EQ(net_set_nonblocking(listening), 0);
        for (int attempt = 0; attempt < 200; ++attempt) {
            net_socket s = net_accept(listening);
            if (s != NET_INVALID)
                return keep(s);
            sleep_ms(10);
        }
        ADD_FAILURE() << "no connection arrived";
        return NET_INVALID;
    }

private:
    std::vector<net_socket> opened_;
    std::vector<addrinfo*> resolved_;
};

} // namespace

TEST_F(SocketTest, ConnectingToAClosedPortIsRefused)
{
    int port = 0;
    net_socket s = listener(&port);
    close_now(s);  // the port is now closed (and was free a moment ago)
    for (const char* host : {"127.0.0.1", "::1"}) {
        int error = 0;
        EXPECT_EQ(connect_to(host, port, &error), NET_INVALID) << host;
        EXPECT_EQ(error, 10061) << host;
    }
}

TEST_F(SocketTest, ASecondListenerOnATakenPortIsRefused)
{
    int port = 0;
    listener(&port);
    net_socket second = keep(net_open_ipv6());
    ASSERT_NE(second, NET_INVALID);
    EXPECT_EQ(net_bind_any(second, port), -1);
    EXPECT_EQ(net_last_error(), 10048);
}

TEST_F(SocketTest, DualStackListenerTakesBothFamiliesAndIdleReceiveWouldBlock)
{
    int port = 0;
    net_socket listening = listener(&port);
    for (const char* host : {"127.0.0.1", "::1"}) {
        net_socket client = connect_to(host, port);
        ASSERT_NE(client, NET_INVALID) << host;
        net_socket served = accept_from(listening);
        ASSERT_NE(served, NET_INVALID) << host;

        ASSERT_EQ(net_set_nonblocking(served), 0);
        char buffer[16];
        EXPECT_EQ(net_receive(served, buffer, sizeof buffer), -1);
        EXPECT_EQ(net_last_error(), NET_WOULD_BLOCK);

        EXPECT_EQ(net_send(client, "hello", 5), 5);
        std::intptr_t got = -1;
        for (int attempt = 0; attempt < 200 && got < 0; ++attempt) {
            got = net_receive(served, buffer, sizeof buffer);
            if (got < 0)
                sleep_ms(10);
        }
        EXPECT_EQ(got, 5);
        EXPECT_EQ(std::string(buffer, 5), "hello");

        close_now(client);  // an orderly close reads as 0 bytes
        got = -1;
        for (int attempt = 0; attempt < 200 && got < 0; ++attempt) {
            got = net_receive(served, buffer, sizeof buffer);
            if (got < 0)
                sleep_ms(10);
        }
        EXPECT_EQ(got, 0);
    }
}

TEST_F(SocketTest, SendingToAPeerThatResetGivesAnErrorAndTheProcessSurvives)
{
    int port = 0;
    net_socket listening = listener(&port);
    net_socket client = connect_to("127.0.0.1", port);
    ASSERT_NE(client, NET_INVALID);
    net_socket served = accept_from(listening);
    ASSERT_NE(served, NET_INVALID);

    // Closing with unread bytes makes the peer's stack answer with a reset.
    ASSERT_EQ(net_send(client, "unread", 6), 6);
    sleep_ms(50);
    close_now(served);

    int error = 0;
    for (int attempt = 0; attempt < 200 && error == 0; ++attempt) {
        if (net_send(client, "more", 4) < 0)
            error = net_last_error();
        else
            sleep_ms(10);
    }
    EXPECT_NE(error, 0);
    EXPECT_NE(error, NET_WOULD_BLOCK);
}
