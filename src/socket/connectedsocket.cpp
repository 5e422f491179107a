#include "connectedsocket.h"

#include <netinet/in.h>
#include <unistd.h>

#include <cstring>

#include <utility>

namespace net
{

ConnectedSocket::ConnectedSocket(SocketHandle socket, const SocketAddress& local)
    : socket_(socket), local_(local)
{
    if (local.family == AF_INET)
        localEndpoint_ = Endpoint::from(local.asSockaddr(), SocketAddress::kSize);
}

ConnectedSocket ConnectedSocket::ofAnyFamily(SocketHandle socket, const Endpoint& local)
{
    SocketAddress v4;
    // The IPv4 form has the platform's layout, so the system's address fits it.
    if (local.family() == AF_INET)
        std::memcpy(static_cast<void*>(&v4), local.address(), SocketAddress::kSize);
    ConnectedSocket connected(socket, v4);
    connected.localEndpoint_ = local;
    return connected;
}

ConnectedSocket::~ConnectedSocket()
{
    reset();
}

ConnectedSocket::ConnectedSocket(ConnectedSocket&& other) noexcept
    : socket_(other.release()), local_(other.local_), localEndpoint_(other.localEndpoint_)
{
}

ConnectedSocket& ConnectedSocket::operator=(ConnectedSocket&& other) noexcept
{
    if (this != &other) {
        reset();
        local_ = other.local_;
        localEndpoint_ = other.localEndpoint_;
        socket_ = other.release();
    }
    return *this;
}

SocketHandle ConnectedSocket::release()
{
    return std::exchange(socket_, kInvalidSocket);
}

void ConnectedSocket::reset()
{
    // No thread can be blocked on a socket that no channel holds yet, so a
    // plain close is enough.
    if (socket_ != kInvalidSocket)
        ::close(std::exchange(socket_, kInvalidSocket));
}

} // namespace net
