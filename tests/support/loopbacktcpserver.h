#pragma once

#include "socket/hostlookup.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The far end of a TCP connection in tests and benchmarks: listens on
// 127.0.0.1 on a port the system picks, takes one connection at a time within
// a deadline, sends to it, reads from it and closes it. It never connects
// anywhere itself. One thread at a time uses it; every wait has a deadline.
class LoopbackTcpServer
{
public:
    static constexpr int kDefaultBacklog = 4;
    // How long send() waits for a far end that takes no more bytes.
    static constexpr std::chrono::milliseconds kSendLimit{10000};

    // Listens at once; check listening(). A backlog of 0 lets a test fill the
    // queue of pending connections with a few connects. A `receiveBuffer`
    // above 0 is set (SO_RCVBUF) before listening, so that connections offer
    // a small window from their first segment.
    explicit LoopbackTcpServer(int backlog = kDefaultBacklog, int receiveBuffer = 0);
    // Closes the connection, then the listening socket.
    ~LoopbackTcpServer();
    LoopbackTcpServer(const LoopbackTcpServer&) = delete;
    LoopbackTcpServer& operator=(const LoopbackTcpServer&) = delete;

    bool listening() const { return listener_ >= 0; }
    // Still known after closeListener() and releaseListener().
    std::uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }

    // Waits at most `limit` for a connection and takes it in place of the one
    // held so far; true once one is taken.
    bool accept(std::chrono::milliseconds limit);
    bool connected() const { return connection_ >= 0; }
    // The connection, for a test that works on it with system calls; this
    // object still closes it.
    net::SocketHandle connection() const { return connection_; }

    // Sends all of `bytes`, waiting for room while the system's buffer is full,
    // at most `limit` in all; true when every byte went out. A far end that
    // stops reading makes it false at the deadline instead of blocking for good.
    bool send(std::string_view bytes, std::chrono::milliseconds limit = kSendLimit);
    // Waits at most `limit` for room, then sends what fits without blocking.
    // The count sent (0 when there was no room in time), or -1 when the
    // connection failed.
    std::ptrdiff_t sendSome(std::string_view bytes, std::chrono::milliseconds limit);
    // One read within `limit`. False, with `block` empty, when nothing came,
    // the far end closed, or the connection failed.
    bool receive(std::string& block, std::chrono::milliseconds limit);
    // Reads and drops whatever still comes until the far end closes; true
    // once it has within `limit`. The connection stays held until
    // closeConnection() or the next accept().
    bool waitForClose(std::chrono::milliseconds limit);
    // Closes the connection: an orderly close, as a server that hangs up.
    void closeConnection();

    // Hands the listening socket over (e.g. to a channel); this object
    // forgets it.
    net::SocketHandle releaseListener();
    // Closes the listening socket now: connects to its port are refused.
    void closeListener();

private:
    net::SocketHandle listener_ = net::kInvalidSocket;
    net::SocketHandle connection_ = net::kInvalidSocket;
    std::uint16_t port_ = 0;
};
