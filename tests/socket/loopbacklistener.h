#pragma once

#include "socket/hostlookup.h"

#include <chrono>
#include <cstdint>
#include <string>

// A listening TCP socket on 127.0.0.1 with a port picked by the system, for
// the socket tests. Used from the test's thread only.
class LoopbackListener
{
public:
    explicit LoopbackListener(int backlog = 8);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool listening() const { return socket_ >= 0; }
    std::uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }

    // The next connection within `limit`, or kInvalidSocket. The caller owns it.
    net::SocketHandle acceptWithin(std::chrono::milliseconds limit);
    // Hands the listening socket over (e.g. to a channel); the listener forgets it.
    net::SocketHandle release();
    // Closes the listening socket now; its port stays known.
    void close();

private:
    net::SocketHandle socket_ = net::kInvalidSocket;
    std::uint16_t port_ = 0;
};
