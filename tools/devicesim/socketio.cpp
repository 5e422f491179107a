#include "socketio.h"

#include "socket/lasterror.h"

#include <sys/socket.h>

#include <cerrno>

namespace devicetools
{

net::WaitOutcome waitReady(int fd, net::SocketWait what, const StopSignal& stop,
                           std::uint32_t timeoutMs)
{
    // The flag covers a stop signal whose pipe could not be made.
    if (stop.triggered()) {
        return net::WaitOutcome::Stopped;
    }
    return net::waitForSocketOrStop(fd, what, timeoutMs, stop.fd());
}

int sendBlock(int fd, std::string_view bytes, const net::SocketAddress* to, const StopSignal& stop,
              std::uint32_t timeoutMs)
{
    std::size_t sent = 0;
    do {
        switch (waitReady(fd, net::SocketWait::Writable, stop, timeoutMs)) {
        case net::WaitOutcome::Ready:
            break;
        case net::WaitOutcome::TimedOut:
            return ETIMEDOUT;
        case net::WaitOutcome::Stopped:
            return ECANCELED;
        case net::WaitOutcome::Failed:
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
