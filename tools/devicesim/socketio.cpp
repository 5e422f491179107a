#include "socketio.h"

#include "socket/lasterror.h"

#include <sys/socket.h>

#include <cerrno>

namespace devicetools
{

net::WaitStatus waitReady(int fd, net::SocketWait what, const StopSignal& stop,
                           std::uint32_t timeoutMs)
{
    // The flag covers a stop signal whose pipe could not be made.
    if (stop.triggered()) {
        return net::WaitStatus::Cancelled;
    }
    const net::WaitResult result = net::waitUntilReady(fd, what, timeoutMs, stop.fd());
    // Callers report a failure through the thread's last error.
    if (result.status == net::WaitStatus::Failed) {
        net::setLastError(result.error);
    }
    return result.status;
}

int sendBlock(int fd, std::string_view bytes, const net::SocketAddress* to, const StopSignal& stop,
              std::uint32_t timeoutMs)
{
    std::size_t sent = 0;
    do {
        switch (waitReady(fd, net::SocketWait::Writable, stop, timeoutMs)) {
        case net::WaitStatus::Ready:
            break;
        case net::WaitStatus::TimedOut:
            return ETIMEDOUT;
        case net::WaitStatus::Cancelled:
            return ECANCELED;
        case net::WaitStatus::Failed:
            return static_cast<int>(net::lastError());
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
            return errno;
        }
        // A datagram goes out whole or not at all.
        if (to != nullptr) {
            return 0;
        }
        sent += static_cast<std::size_t>(n);
    } while (sent < bytes.size());
    return 0;
}

} // namespace devicetools
