#pragma once

#include "stopsignal.h"

#include "socket/socketaddress.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace devicetools
{

// Where the tools meet by default: the simulator listens there, the sender
// sends there, and the console is pointed there to try it without a device.
inline constexpr std::string_view kDefaultHost = "127.0.0.1";
inline constexpr std::uint16_t kDefaultPort = 21210;
inline constexpr std::uint32_t kMaxPort = 65535;

// A time-out that stands for "no limit" in waitReady().
inline constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

enum class WaitResult { Ready, TimedOut, Stopped, Failed };

// Waits until `fd` is ready for `events` (POLLIN or POLLOUT; an error or
// hang-up counts as ready), the stop signal triggers, or `timeoutMs` passes.
// A stop wins over readiness. Interrupted waits go on with the time left.
WaitResult waitReady(int fd, short events, const StopSignal& stop, std::uint32_t timeoutMs);

// Sends `bytes` on a connected socket (`to` nullptr) or as one datagram to
// `to`, with MSG_NOSIGNAL. A stream socket gets every byte in as few send calls
// as it takes (one for a block that fits its send buffer); each wait for room
// is bounded by `timeoutMs`. False on failure, stop or time-out.
bool sendBlock(int fd, std::string_view bytes, const net::SocketAddress* to, const StopSignal& stop,
               std::uint32_t timeoutMs);

// "a.b.c.d:port" of an endpoint.
std::string endpointText(const net::SocketAddress& endpoint);

// An IPv4 endpoint from a host-order address and port.
net::SocketAddress makeEndpoint(std::uint32_t hostOrderAddress, std::uint16_t port);

// True for 127.0.0.0/8 (host order).
bool isLoopback(std::uint32_t hostOrderAddress);

// The text of an errno value.
std::string errorText(int code);

} // namespace devicetools
