#include "socketio.h"

#include <sys/socket.h>

#include <cerrno>

namespace devicetools
{

base::Error waitReady(int fd, net::SocketWait what, const StopSignal& stop, std::uint32_t timeoutMs)
{
    // The flag covers a stop signal whose pipe could not be made.
    if (stop.triggered()) {
        return base::Error(base::Fault::Cancelled);
    }
    return net::waitUntilReady(fd, what, timeoutMs, stop.fd());
}

base::Error sendBlock(int fd, std::string_view bytes, const net::SocketAddress* to,
                      const StopSignal& stop, std::uint32_t timeoutMs)
{
    std::size_t sent = 0;
    do {
        if (base::Error wait = waitReady(fd, net::SocketWait::Writable, stop, timeoutMs);
            !wait.ok()) {
            return wait;
        }
        ssize_t n;
        do {
            n = to != nullptr
                    ? ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                               to->asSockaddr(), net::SocketAddress::kSize)
                    : ::send(fd, bytes.data() + sent, bytes.size() - sent,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return base::Error::fromErrno();
        }
        // A datagram goes out whole or not at all.
        if (to != nullptr) {
            return {};
        }
        sent += static_cast<std::size_t>(n);
    } while (sent < bytes.size());
    return {};
}

} // namespace devicetools
