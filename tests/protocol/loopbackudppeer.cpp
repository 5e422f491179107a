#include "loopbackudppeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackUdpPeer::LoopbackUdpPeer()
{
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(socket_);
        socket_ = -1;
        return;
    }
    port_ = ntohs(address.sin_port);
}

LoopbackUdpPeer::~LoopbackUdpPeer()
{
    if (socket_ >= 0) {
        ::close(socket_);
    }
}

bool LoopbackUdpPeer::receive(std::string& datagram, std::chrono::milliseconds limit)
{
    datagram.clear();
    if (socket_ < 0) {
        return false;
    }
    pollfd wanted{socket_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&wanted, 1, static_cast<int>(limit.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    char buffer[2048];
    socklen_t size = sizeof sender_;
    ssize_t n;
    do {
        n = ::recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender_),
                       &size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return false;
    }
    haveSender_ = true;
    datagram.assign(buffer, static_cast<std::size_t>(n));
    return true;
}

bool LoopbackUdpPeer::senderIsLoopback() const
{
    return haveSender_ && (ntohl(sender_.sin_addr.s_addr) >> 24) == 127;
}

bool LoopbackUdpPeer::sendToSender(std::string_view bytes)
{
    // Only ever answers a loopback sender, so a test cannot reach the network.
    if (socket_ < 0 || !senderIsLoopback()) {
        return false;
    }
    ssize_t sent;
    do {
        sent = ::sendto(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&sender_), sizeof sender_);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(bytes.size());
}
