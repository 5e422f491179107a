#include "loopbacktcpserver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackTcpServer::LoopbackTcpServer()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(listener_);
        listener_ = -1;
        return;
    }
    port_ = ntohs(address.sin_port);
}

LoopbackTcpServer::~LoopbackTcpServer()
{
    closeConnection();
    if (listener_ >= 0) {
        ::close(listener_);
    }
}

bool LoopbackTcpServer::accept(std::chrono::milliseconds limit)
{
    if (listener_ < 0 || connection_ >= 0) {
        return false;
    }
    pollfd wanted{listener_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&wanted, 1, static_cast<int>(limit.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    do {
        connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    } while (connection_ < 0 && errno == EINTR);
    return connection_ >= 0;
}

bool LoopbackTcpServer::send(std::string_view bytes)
{
    if (connection_ < 0) {
        return false;
    }
    ssize_t sent;
    do {
        sent = ::send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(bytes.size());
}

void LoopbackTcpServer::closeConnection()
{
    if (connection_ >= 0) {
        ::close(connection_);
        connection_ = -1;
    }
}
