#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// A TCP peer on 127.0.0.1 for channel tests: listens on a port the system
// picks, accepts one connection with a deadline, sends blocks to it and
// closes it. One thread (the test's) uses it.
class LoopbackTcpServer
{
public:
    LoopbackTcpServer();
    ~LoopbackTcpServer();
    LoopbackTcpServer(const LoopbackTcpServer&) = delete;
    LoopbackTcpServer& operator=(const LoopbackTcpServer&) = delete;

    bool listening() const { return listener_ >= 0; }
    std::uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }

    // Waits at most `limit` for a connection; true once one is accepted.
    bool accept(std::chrono::milliseconds limit);
    // Sends all of `bytes` in one send call; true when all went out.
    bool send(std::string_view bytes);
    // Closes the accepted connection (an orderly close seen by the peer).
    void closeConnection();

private:
    int listener_ = -1;
    int connection_ = -1;
    std::uint16_t port_ = 0;
};
