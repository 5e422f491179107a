#include "connectedsocket.h"

#include <unistd.h>

#include <utility>

namespace net
{

ConnectedSocket::ConnectedSocket(SocketHandle socket, const SocketAddress& local)
    : socket_(socket), local_(local)
{
}

ConnectedSocket::~ConnectedSocket()
{
    reset();
}

ConnectedSocket::ConnectedSocket(ConnectedSocket&& other) noexcept
    : socket_(other.release()), local_(other.local_)
{
}

ConnectedSocket& ConnectedSocket::operator=(ConnectedSocket&& other) noexcept
{
    if (this != &other) {
        reset();
        local_ = other.local_;
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
