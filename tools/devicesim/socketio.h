#pragma once

#include "stopsignal.h"

#include "socket/socketaddress.h"
#include "socket/socketwait.h"

#include <cstdint>
#include <string_view>

namespace devicetools
{

// A time-out that stands for "no limit" in waitReady().
inline constexpr std::uint32_t kWaitForever = net::kNoTimeout;

// Waits until `fd` is readable or writable (an error or hang-up counts as
// ready), the stop signal triggers, or `timeoutMs` passes: the socket layer's
// wait with the stop signal's descriptor. A stop wins over readiness. A
// failure leaves its errno as the thread's last error.
net::WaitStatus waitReady(int fd, net::SocketWait what, const StopSignal& stop,
                           std::uint32_t timeoutMs);

// Sends `bytes` on a connected socket (`to` nullptr) or as one datagram to
// `to`, with MSG_NOSIGNAL. A stream socket gets every byte in as few send calls
// as it takes (one for a block that fits its send buffer); each wait for room
// is bounded by `timeoutMs`. 0 when every byte went out; otherwise the errno
// of the failure (ETIMEDOUT for a time-out, ECANCELED for a stop).
int sendBlock(int fd, std::string_view bytes, const net::SocketAddress* to, const StopSignal& stop,
              std::uint32_t timeoutMs);

} // namespace devicetools
