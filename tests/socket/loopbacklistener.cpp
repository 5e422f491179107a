#include "loopbacklistener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackListener::LoopbackListener(int backlog)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s, backlog) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(s);
        return;
    }
    socket_ = s;
    port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener()
{
    close();
}

net::SocketHandle LoopbackListener::acceptWithin(std::chrono::milliseconds limit)
{
    if (net::waitForSocket(socket_, net::SocketWait::Readable,
                           static_cast<std::uint32_t>(limit.count())) <= 0)
        return net::kInvalidSocket;
    return net::acceptOne(socket_);
}

net::SocketHandle LoopbackListener::release()
{
    const net::SocketHandle s = socket_;
    socket_ = net::kInvalidSocket;
    return s;
}

void LoopbackListener::close()
{
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = net::kInvalidSocket;
}
