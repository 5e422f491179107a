#pragma once

#include "stopsignal.h"

#include "base/error.h"
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
// wait with the stop signal's descriptor. A stop wins over readiness. No
// failure when ready; else Fault::Cancelled, Fault::TimedOut or the system's
// failure.
[[nodiscard]] base::Error waitReady(int fd, net::SocketWait what, const StopSignal& stop,
                                    std::uint32_t timeoutMs);

// Sends `bytes` on a connected socket (`to` nullptr) or as one datagram to
// `to`, with MSG_NOSIGNAL. A stream socket gets every byte in as few send calls
// as it takes (one for a block that fits its send buffer); each wait for room
// is bounded by `timeoutMs`. No failure when every byte went out; otherwise
// Fault::TimedOut (the peer took no more bytes in time), Fault::Cancelled (a
// stop) or the system's failure.
[[nodiscard]] base::Error sendBlock(int fd, std::string_view bytes, const net::SocketAddress* to,
                                    const StopSignal& stop, std::uint32_t timeoutMs);

} // namespace devicetools
