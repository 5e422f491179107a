#include "socketwait.h"

#include "lasterror.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

namespace net
{

int waitForSocket(SocketHandle socket, SocketWait what, std::uint32_t timeoutMs)
{
    switch (waitForSocketOrStop(socket, what, timeoutMs, kInvalidSocket)) {
    case WaitOutcome::Ready:
        return 1;
    case WaitOutcome::TimedOut:
        return 0;
    case WaitOutcome::Stopped:
    case WaitOutcome::Failed:
        break;
    }
    return -1;
}

WaitOutcome waitForSocketOrStop(SocketHandle socket, SocketWait what, std::uint32_t timeoutMs,
                                SocketHandle stop)
{
    // poll ignores a negative descriptor and would sleep out the whole time-out.
    if (socket < 0) {
        setLastError(EBADF);
        return WaitOutcome::Failed;
    }
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs == kNoTimeout;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // A negative stop descriptor is ignored by poll, as wanted here.
    const short events = what == SocketWait::Readable ? POLLIN : POLLOUT;
    pollfd entries[2] = {{socket, events, 0}, {stop, POLLIN, 0}};
    for (;;) {
        int waitMs = -1;
        if (!forever) {
            // Rounded up, so that a wait never ends before its deadline; poll
            // takes an int, so very long time-outs are waited out in parts.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            waitMs = static_cast<int>(
                std::min<long long>(std::max<long long>(left.count(), 0), INT_MAX));
        }
        entries[0].revents = entries[1].revents = 0;
        const int rc = ::poll(entries, 2, waitMs);
        if (rc > 0) {
            if (entries[1].revents != 0)
                return WaitOutcome::Stopped;
            if (entries[0].revents & POLLNVAL) {
                setLastError(EBADF);
                return WaitOutcome::Failed;
            }
            return WaitOutcome::Ready;
        }
        if (rc == 0) {
            if (forever || Clock::now() < deadline)
                continue;
            return WaitOutcome::TimedOut;
        }
        if (errno != EINTR) {
            setLastErrorFromErrno();
            return WaitOutcome::Failed;
        }
    }
}

bool connectWithin(SocketHandle socket, const SocketAddress& peer, std::uint32_t timeoutMs)
{
    // A blocking connect to an unreachable host can take minutes on Linux; a
    // non-blocking connect and a bounded wait for writability put a limit on it.
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) {
        setLastErrorFromErrno();
        return false;
    }
    if (::connect(socket, peer.asSockaddr(), SocketAddress::kSize) != 0) {
        // EINTR: the attempt goes on in the background, as with EINPROGRESS.
        if (errno != EINPROGRESS && errno != EINTR) {
            setLastErrorFromErrno();
            return false;
        }
        const int ready = waitForSocket(socket, SocketWait::Writable, timeoutMs);
        if (ready == 0) {
            setLastError(ETIMEDOUT);
            return false;
        }
        if (ready < 0)
            return false;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            setLastErrorFromErrno();
            return false;
        }
        if (error != 0) {
            setLastError(static_cast<std::uint32_t>(error));
            return false;
        }
    }
    if (::fcntl(socket, F_SETFL, flags) < 0) {
        setLastErrorFromErrno();
        return false;
    }
    return true;
}

} // namespace net
