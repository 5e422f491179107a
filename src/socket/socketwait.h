#pragma once

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
// milliseconds (kNoTimeout: no limit; 0: only polls). An error or hang-up on
// the socket also counts as ready: the read or write that follows reports it.
// A wait interrupted by a signal goes on with the time left. Returns 1 when
// ready, 0 at the time-out, -1 on failure (last-error set; EBADF for
// kInvalidSocket).
int waitForSocket(SocketHandle socket, SocketWait what, std::uint32_t timeoutMs);

// What waitForSocketOrStop() found.
enum class WaitOutcome { Ready, TimedOut, Stopped, Failed };

// As waitForSocket(), but the wait also ends, with Stopped, once `stop` (a
// descriptor that becomes readable and stays so, e.g. the read end of a pipe
// that a stop request writes to) is readable; a stop wins over readiness.
// kInvalidSocket as `stop` waits for the socket alone. Failed sets last-error.
WaitOutcome waitForSocketOrStop(SocketHandle socket, SocketWait what, std::uint32_t timeoutMs,
                                SocketHandle stop);

// Connects a blocking socket to `peer` (length 16), giving up after
// `timeoutMs` (kNoTimeout: no limit) with last-error ETIMEDOUT. The socket is
// blocking again when this returns true; on false the caller closes it.
bool connectWithin(SocketHandle socket, const SocketAddress& peer, std::uint32_t timeoutMs);

} // namespace net
