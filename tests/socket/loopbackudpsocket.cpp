#include "loopbackudpsocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackUdpSocket::LoopbackUdpSocket()
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return;
    net::SocketAddress address;
    address.family = AF_INET;
    address.address = htonl(INADDR_LOOPBACK);
    socklen_t length = net::SocketAddress::kSize;
    if (::bind(s, address.asSockaddr(), net::SocketAddress::kSize) != 0 ||
        ::getsockname(s, address.asSockaddr(), &length) != 0) {
        ::close(s);
        return;
    }
    socket_ = s;
    address_ = address;
}

LoopbackUdpSocket::~LoopbackUdpSocket()
{
    if (socket_ >= 0)
        ::close(socket_);
}

std::string LoopbackUdpSocket::portText() const
{
    return std::to_string(ntohs(address_.port));
}

bool LoopbackUdpSocket::sendTo(const net::SocketAddress& to, const std::string& bytes)
{
    if (to.address != htonl(INADDR_LOOPBACK))
        return false;
    return ::sendto(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL, to.asSockaddr(),
                    net::SocketAddress::kSize) == static_cast<ssize_t>(bytes.size());
}

bool LoopbackUdpSocket::receive(std::string& datagram, std::chrono::milliseconds limit)
{
    datagram.clear();
    if (net::waitForSocket(socket_, net::SocketWait::Readable,
                           static_cast<std::uint32_t>(limit.count())) <= 0)
        return false;
    char buffer[4096];
    const ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
    if (n < 0)
        return false;
    datagram.assign(buffer, static_cast<std::size_t>(n));
    return true;
}

net::SocketHandle LoopbackUdpSocket::release()
{
    const net::SocketHandle s = socket_;
    socket_ = net::kInvalidSocket;
    return s;
}
