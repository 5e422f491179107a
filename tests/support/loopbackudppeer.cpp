#include "loopbackudppeer.h"

#include "loopbacksocket.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

using loopback::retryOnInterrupt;

LoopbackUdpPeer::LoopbackUdpPeer()
{
    socket_ = loopback::openBound(SOCK_DGRAM, address_);
}

LoopbackUdpPeer::~LoopbackUdpPeer()
{
    loopback::closeSocket(socket_);
}

std::uint16_t LoopbackUdpPeer::port() const
{
    return ntohs(address_.port);
}

bool LoopbackUdpPeer::receive(std::string& datagram, std::chrono::milliseconds limit)
{
    datagram.clear();
    if (!loopback::waitFor(socket_, POLLIN, limit))
        return false;
    datagram.resize(loopback::kReadCapacity);
    net::SocketAddress from;
    socklen_t length = net::SocketAddress::kSize;
    const ssize_t got = retryOnInterrupt([&] {
        return ::recvfrom(socket_, datagram.data(), datagram.size(), 0, from.asSockaddr(), &length);
    });
    if (got < 0) {
        datagram.clear();
        return false;
    }
    datagram.resize(static_cast<std::size_t>(got));
    sender_ = from;
    return true;
}

std::uint16_t LoopbackUdpPeer::senderPort() const
{
    return ntohs(sender_.port);
}

bool LoopbackUdpPeer::senderIsLoopback() const
{
    return loopback::isLoopback(sender_);
}

bool LoopbackUdpPeer::sendTo(const net::SocketAddress& to, std::string_view bytes)
{
    // Only ever sends on the loopback network, so a test cannot reach the
    // network outside.
    if (socket_ < 0 || !loopback::isLoopback(to))
        return false;
    const ssize_t sent = retryOnInterrupt([&] {
        return ::sendto(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL, to.asSockaddr(),
                        net::SocketAddress::kSize);
    });
    return sent == static_cast<ssize_t>(bytes.size());
}

net::SocketHandle LoopbackUdpPeer::release()
{
    const net::SocketHandle s = socket_;
    socket_ = net::kInvalidSocket;
    return s;
}
