#include "loopbacktcpserver.h"

#include "loopbacksocket.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

using loopback::retryOnInterrupt;

LoopbackTcpServer::LoopbackTcpServer(int backlog, int receiveBuffer)
{
    net::SocketAddress bound;
    listener_ = loopback::openBound(SOCK_STREAM, bound);
    if (listener_ < 0)
        return;
    if ((receiveBuffer > 0 && ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer,
                                           sizeof receiveBuffer) != 0) ||
        ::listen(listener_, backlog) != 0) {
        loopback::closeSocket(listener_);
        return;
    }
    port_ = ntohs(bound.port);
}

LoopbackTcpServer::~LoopbackTcpServer()
{
    closeConnection();
    closeListener();
}

bool LoopbackTcpServer::accept(std::chrono::milliseconds limit)
{
    // The connection held so far stays until a new one is there to take.
    if (!loopback::waitFor(listener_, POLLIN, limit))
        return false;
    closeConnection();
    connection_ =
        retryOnInterrupt([&] { return ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC); });
    return connection_ >= 0;
}

bool LoopbackTcpServer::send(std::string_view bytes, std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    if (connection_ < 0)
        return false;
    // Each send takes what fits without blocking; the waits for room share
    // one deadline, so a far end that stops reading cannot hold the caller.
    const Clock::time_point deadline = Clock::now() + limit;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (!loopback::waitFor(connection_, POLLOUT, std::max(left, std::chrono::milliseconds(0))))
            return false;
        const ssize_t sent = retryOnInterrupt([&] {
            return ::send(connection_, bytes.data() + done, bytes.size() - done,
                          MSG_NOSIGNAL | MSG_DONTWAIT);
        });
        if (sent < 0) {
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && Clock::now() < deadline)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

std::ptrdiff_t LoopbackTcpServer::sendSome(std::string_view bytes, std::chrono::milliseconds limit)
{
    if (connection_ < 0)
        return -1;
    if (!loopback::waitFor(connection_, POLLOUT, limit))
        return 0;
    const ssize_t sent = retryOnInterrupt([&] {
        return ::send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    if (sent < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    return sent;
}

bool LoopbackTcpServer::receive(std::string& block, std::chrono::milliseconds limit)
{
    block.clear();
    if (!loopback::waitFor(connection_, POLLIN, limit))
        return false;
    block.resize(loopback::kReadCapacity);
    const ssize_t got =
        retryOnInterrupt([&] { return ::recv(connection_, block.data(), block.size(), 0); });
    block.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return got > 0;
}

bool LoopbackTcpServer::waitForClose(std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    std::string dropped(loopback::kReadCapacity, '\0');
    for (;;) {
        // Once the time is up, only what is already there is still read.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const bool timeUp = left.count() <= 0;
        if (!loopback::waitFor(connection_, POLLIN, timeUp ? std::chrono::milliseconds(0) : left))
            return false;
        const ssize_t got = retryOnInterrupt(
            [&] { return ::recv(connection_, dropped.data(), dropped.size(), 0); });
        if (got == 0 || (got < 0 && errno == ECONNRESET))
            return true;
        if (got < 0 || timeUp)
            return false;
    }
}

void LoopbackTcpServer::closeConnection()
{
    loopback::closeSocket(connection_);
}

net::SocketHandle LoopbackTcpServer::releaseListener()
{
    const net::SocketHandle s = listener_;
    listener_ = net::kInvalidSocket;
    return s;
}

void LoopbackTcpServer::closeListener()
{
    loopback::closeSocket(listener_);
}
