#pragma once

#include "socket/hostlookup.h"
#include "socket/socketaddress.h"

#include <cerrno>
#include <chrono>
#include <cstddef>

// What the loopback peers share: a socket bound to 127.0.0.1 on a port the
// system picks, and waits with a deadline. Only plain POSIX calls, each
// retried on EINTR: the peers use none of the socket layer's functions, so a
// fault there cannot hide behind a peer.
namespace loopback
{

// The most one read takes: a whole UDP datagram, or one block of a stream.
inline constexpr std::size_t kReadCapacity = 65536;

// Runs `call` again for as long as it fails with EINTR.
template <typename Call> auto retryOnInterrupt(Call call)
{
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

// A close-on-exec socket of `type` (SOCK_STREAM, SOCK_DGRAM) bound to
// 127.0.0.1 on a port the system picks, with its address in `bound`; or
// kInvalidSocket.
net::SocketHandle openBound(int type, net::SocketAddress& bound);

// Waits at most `limit` until `socket` is ready for `events` (poll flags);
// true when it is, or when it has an error or hang-up to report. Signals do
// not cut the wait short.
bool waitFor(net::SocketHandle socket, short events, std::chrono::milliseconds limit);

// True for an IPv4 address on the loopback network, 127.0.0.0/8.
bool isLoopback(const net::SocketAddress& address);

// Closes `socket` if it is open and marks it closed.
void closeSocket(net::SocketHandle& socket);

} // namespace loopback
