#pragma once

#include "socket/endpoint.h"

#include <string>

namespace devicetools
{

// A peer's endpoint as the log shows it: "a.b.c.d:port" for IPv4, also for
// an IPv4 peer of a socket that takes both families ("::"), and
// "[v6]:port" for IPv6. Any thread.
std::string peerAddressText(const net::Endpoint& peer);

// True for an address on the loopback network (127.0.0.0/8, ::1, or
// 127.0.0.0/8 mapped into IPv6).
bool isLoopbackAddress(const net::Endpoint& address);

} // namespace devicetools
