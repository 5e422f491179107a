#include "socketwait.h"

#include "lasterror.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>

namespace net
{

base::Error waitUntilReady(SocketHandle socket, SocketWait what, std::uint32_t timeoutMs,
                           SocketHandle cancel)
{
    // poll ignores a negative descriptor and would sleep out the whole time-out.
    if (socket < 0)
        return base::Error::system(EBADF);
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs == kNoTimeout;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::array<pollfd, 2> entries{};
    entries[0].fd = socket;
    entries[0].events = what == SocketWait::Readable ? POLLIN : POLLOUT;
    entries[1].fd = cancel; // a negative descriptor is skipped by poll
    entries[1].events = POLLIN;
    const nfds_t count = cancel < 0 ? 1 : 2;
    for (;;) {
        int waitMs = -1;
        if (!forever) {
            // Rounded up, so that a wait never ends before its deadline; poll
            // takes an int, so very long time-outs are waited out in parts.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(
                std::min<long long>(std::max<long long>(left.count(), 0), INT_MAX));
        }
        for (pollfd& entry : entries)
            entry.revents = 0;
        const int rc = ::poll(entries.data(), count, waitMs);
        if (rc > 0) {
            if (entries[1].revents != 0)
                return base::Error(base::Fault::Cancelled);
            if (entries[0].revents & POLLNVAL)
                return base::Error::system(EBADF);
            return {};
        }
        if (rc == 0) {
            if (forever || Clock::now() < deadline)
                continue;
            return base::Error(base::Fault::TimedOut);
        }
        if (errno != EINTR)
            return base::Error::fromErrno();
    }
}

int waitForSocket(SocketHandle socket, SocketWait what, std::uint32_t timeoutMs)
{
    const base::Error wait = waitUntilReady(socket, what, timeoutMs);
    if (wait.ok())
        return 1;
    if (wait.fault() == base::Fault::TimedOut)
        return 0;
    setLastError(wait);
    return -1;
}

namespace
{

base::Error connectAddressWithin(SocketHandle socket, const sockaddr* peer, socklen_t length,
                                 std::uint32_t timeoutMs, SocketHandle cancel)
{
    // A blocking connect to an unreachable host can take minutes on Linux; a
    // non-blocking connect and a bounded wait for writability put a limit on it.
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0)
        return base::Error::fromErrno();
    if (::connect(socket, peer, length) != 0) {
        // EINTR: the attempt goes on in the background, as with EINPROGRESS.
        if (errno != EINPROGRESS && errno != EINTR)
            return base::Error::fromErrno();
        // The connect's own faults are the system's words for them.
        const base::Error wait = waitUntilReady(socket, SocketWait::Writable, timeoutMs, cancel);
        if (wait.fault() == base::Fault::TimedOut)
            return base::Error::system(ETIMEDOUT);
        if (wait.fault() == base::Fault::Cancelled)
            return base::Error::system(ECANCELED);
        if (!wait.ok())
            return wait;
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            return base::Error::fromErrno();
        if (error != 0)
            return base::Error::system(error);
    }
    if (::fcntl(socket, F_SETFL, flags) < 0)
        return base::Error::fromErrno();
    return {};
}

} // namespace

base::Error connectWithin(SocketHandle socket, const SocketAddress& peer, std::uint32_t timeoutMs,
                          SocketHandle cancel)
{
    return connectAddressWithin(socket, peer.asSockaddr(), SocketAddress::kSize, timeoutMs, cancel);
}

base::Error connectWithin(SocketHandle socket, const Endpoint& peer, std::uint32_t timeoutMs,
                          SocketHandle cancel)
{
    return connectAddressWithin(socket, peer.address(), peer.length, timeoutMs, cancel);
}

} // namespace net
