#include "loopbacksocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace loopback
{

net::SocketHandle openBound(int type, net::SocketAddress& bound)
{
    bound = net::SocketAddress{};
    const net::SocketHandle s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0)
        return net::kInvalidSocket;
    net::SocketAddress address;
    address.family = AF_INET;
    address.address = htonl(INADDR_LOOPBACK);
    socklen_t length = net::SocketAddress::kSize;
    if (::bind(s, address.asSockaddr(), net::SocketAddress::kSize) != 0 ||
        ::getsockname(s, address.asSockaddr(), &length) != 0) {
        ::close(s);
        return net::kInvalidSocket;
    }
    bound = address;
    return s;
}

bool waitFor(net::SocketHandle socket, short events, std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    if (socket < 0)
        return false;
    // An interrupted poll waits again only for the time that is left.
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{socket, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left > 0 ? left : 0));
        // Readiness includes an error or hang-up: the next call reports it.
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool isLoopback(const net::SocketAddress& address)
{
    return address.family == AF_INET && (ntohl(address.address) >> 24) == 127;
}

void closeSocket(net::SocketHandle& socket)
{
    if (socket >= 0)
        ::close(socket);
    socket = net::kInvalidSocket;
}

} // namespace loopback
