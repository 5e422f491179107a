#pragma once

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

// "a.b.c.d:port" of an endpoint.
std::string endpointText(const net::SocketAddress& endpoint);

// An IPv4 endpoint from a host-order address and port.
net::SocketAddress makeEndpoint(std::uint32_t hostOrderAddress, std::uint16_t port);

// The text of an errno value.
std::string errorText(int code);

} // namespace devicetools
