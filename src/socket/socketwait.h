#pragma once

#include "base/error.h"
#include "endpoint.h"
#include "hostlookup.h"
#include "socketaddress.h"

#include <cstdint>

namespace net
{

// Bounded waits on one socket: for it to become readable or writable, and for
// a connect to finish. Any thread may call them for a socket it may use.

// A time-out in milliseconds that stands for "no limit".
inline constexpr std::uint32_t kNoTimeout = 0xFFFFFFFFu;

// What waitForSocket() waits for.
enum class SocketWait { Readable, Writable };

// Waits until the socket is readable or writable, at most `timeoutMs`
// milliseconds (kNoTimeout: no limit; 0: only polls), or until `cancel` (a
// descriptor such as an eventfd; kInvalidSocket for none) becomes readable. An
// error or hang-up on the socket also counts as ready: the read or write that
// follows reports it. A wait interrupted by a signal goes on with the time
// left. No failure when ready; else Fault::TimedOut, Fault::Cancelled, or the
// system's failure (EBADF for kInvalidSocket or a closed descriptor). Does not
// touch the last-error code.
[[nodiscard]] base::Error waitUntilReady(SocketHandle socket, SocketWait what,
                                         std::uint32_t timeoutMs,
                                         SocketHandle cancel = kInvalidSocket);

// The same without a cancel descriptor, as a count: 1 when ready, 0 at the
// time-out, -1 on failure (last-error set).
int waitForSocket(SocketHandle socket, SocketWait what, std::uint32_t timeoutMs);

// Connects a blocking socket to `peer` (length 16), giving up after
// `timeoutMs` (kNoTimeout: no limit) with ETIMEDOUT, or as soon as `cancel`
// becomes readable with ECANCELED. No failure once connected, and the socket
// is blocking again; on a failure (the system's errno) the caller closes it.
// Does not touch the last-error code.
[[nodiscard]] base::Error connectWithin(SocketHandle socket, const SocketAddress& peer,
                                        std::uint32_t timeoutMs,
                                        SocketHandle cancel = kInvalidSocket);
// The same for a peer of any family (the socket of that family).
[[nodiscard]] base::Error connectWithin(SocketHandle socket, const Endpoint& peer,
                                        std::uint32_t timeoutMs,
                                        SocketHandle cancel = kInvalidSocket);

} // namespace net
