#include "blockio.h"

#include "lasterror.h"
#include "socketwait.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace net
{

namespace
{

// The count that one send or receive call may report in a signed 32-bit result.
std::size_t clampLength(std::uint32_t length)
{
    return std::min<std::uint32_t>(length, INT32_MAX);
}

// recv, recvfrom, send and sendto, resumed when a signal interrupts them.
template <typename Call> ssize_t retryOnSignal(Call call)
{
    for (;;) {
        const ssize_t n = call();
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

IoResult waitReadable(SocketHandle socket, std::uint32_t timeoutMs)
{
    const base::Error wait = waitUntilReady(socket, SocketWait::Readable, timeoutMs);
    if (wait.ok())
        return IoResult(0);
    return ioTimedOut(wait);
}

} // namespace

IoResult receivePlain(SocketHandle socket, std::uint8_t* into, std::uint32_t capacity,
                      std::uint32_t timeoutMs)
{
    // While a device streams, a wait before every read would double the system
    // calls on the watcher's path.
    const ssize_t ready = ::recv(socket, into, clampLength(capacity), MSG_DONTWAIT);
    if (ready > 0)
        return IoResult(static_cast<std::uint32_t>(ready));
    if (ready == 0)
        return ioClosed();
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return IoResult(base::Error::fromErrno());
    if (const IoResult wait = waitReadable(socket, timeoutMs); !wait.ok())
        return wait;
    const ssize_t n = retryOnSignal([&] { return ::recv(socket, into, clampLength(capacity), 0); });
    if (n > 0)
        return IoResult(static_cast<std::uint32_t>(n));
    return n == 0 ? ioClosed() : IoResult(base::Error::fromErrno());
}

IoResult receiveFrom(SocketHandle socket, std::uint8_t* into, std::uint32_t capacity,
                     SocketAddress& sender, std::uint32_t timeoutMs)
{
    sender = SocketAddress{};
    if (const IoResult wait = waitReadable(socket, timeoutMs); !wait.ok())
        return wait;
    socklen_t senderLength = SocketAddress::kSize;
    const ssize_t n = retryOnSignal([&] {
        return ::recvfrom(socket, into, clampLength(capacity), 0, sender.asSockaddr(),
                          &senderLength);
    });
    std::memset(sender.zero, 0, sizeof sender.zero);
    if (n < 0)
        return IoResult(base::Error::fromErrno());
    // An empty datagram comes with its sender. A 0 without one is the end of a
    // stream or the shutdown of a released socket: not an empty message, which
    // would otherwise be raised at every turn for ever, or after stop.
    if (n == 0 && senderLength == 0)
        return ioClosed();
    return IoResult(static_cast<std::uint32_t>(n));
}

IoResult sendPlain(SocketHandle socket, const std::uint8_t* bytes, std::uint32_t length)
{
    const ssize_t n =
        retryOnSignal([&] { return ::send(socket, bytes, clampLength(length), MSG_NOSIGNAL); });
    return n < 0 ? IoResult(base::Error::fromErrno()) : IoResult(static_cast<std::uint32_t>(n));
}

IoResult sendTo(SocketHandle socket, const std::uint8_t* bytes, std::uint32_t length,
                const SocketAddress& to)
{
    const ssize_t n = retryOnSignal([&] {
        return ::sendto(socket, bytes, clampLength(length), MSG_NOSIGNAL, to.asSockaddr(),
                        SocketAddress::kSize);
    });
    return n < 0 ? IoResult(base::Error::fromErrno()) : IoResult(static_cast<std::uint32_t>(n));
}

void sendBlocksAtOnce(SocketHandle socket)
{
    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
        return;
    const int on = 1;
    // Refused by a stream that is no TCP: it has no such delay to switch off.
    (void)::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

IoResult sendWithRoom(SocketHandle socket, const std::uint8_t* bytes, std::uint32_t length)
{
    // The kernel's own test for room counts its bookkeeping of every buffer
    // on top of the bytes; half the buffer leaves that ample margin.
    int queued = 0;
    int buffer = 0;
    socklen_t size = sizeof buffer;
    if (::ioctl(socket, SIOCOUTQ, &queued) == 0 && queued > 0 &&
        ::getsockopt(socket, SOL_SOCKET, SO_SNDBUF, &buffer, &size) == 0 &&
        static_cast<std::uint64_t>(queued) + length > static_cast<std::uint64_t>(buffer) / 2)
        return ioNoRoomNow();
    const ssize_t n = retryOnSignal(
        [&] { return ::send(socket, bytes, clampLength(length), MSG_NOSIGNAL | MSG_DONTWAIT); });
    if (n >= 0)
        return IoResult(static_cast<std::uint32_t>(n));
    const base::Error error = base::Error::fromErrno();
    return error.systemCode() == EAGAIN || error.systemCode() == EWOULDBLOCK ? ioNoRoomNow()
                                                                             : IoResult(error);
}

std::int32_t reportAsCount(const IoResult& result, std::uint32_t extra)
{
    if (result.ok())
        return static_cast<std::int32_t>(*result + extra);
    const base::Error& error = result.error();
    switch (error.fault()) {
    case base::Fault::TimedOut:
    case base::Fault::NoRoomNow:
        if (error.systemCode() != 0)
            setLastError(error);
        return 0;
    case base::Fault::PeerClosed:
        return -1;
    default:
        setLastError(error);
        return -1;
    }
}

} // namespace net
