#pragma once

#include "base/error.h"
#include "socket/socketaddress.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace devicetools
{

inline constexpr std::uint32_t kMaxPort = 65535;

// An IPv4 endpoint from a host-order address and port.
net::SocketAddress makeEndpoint(std::uint32_t hostOrderAddress, std::uint16_t port);

} // namespace devicetools
