#pragma once

#include "endpoint.h"

#include "base/error.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace net
{

// Look-ups and connects for any address family, for this system's own
// programs (the console's Part-given connect keeps its IPv4 steps). Free
// functions, no state, any thread; a look-up takes as long as the system's
// name services take.

// "HOST", "HOST:PORT", "[V6]" or "[V6]:PORT" split into host and port text
// (the port empty when not given). A bare IPv6 literal ("::1", "fe80::1")
// is taken whole as the host. BadArgument when brackets are unbalanced.
struct HostAndPort {
    std::string host;
    std::string port;
};
[[nodiscard]] base::Result<HostAndPort> splitHostAndPort(std::string_view text);
// The same for a host to connect to, checked: the host a name or an address
// (brackets only around an IPv6 one), the port 1..65535 when given.
// BadArgument with the reason (no detail) otherwise.
[[nodiscard]] base::Result<HostAndPort> parseConnectTarget(std::string_view text);

// Every address of `host` (a name, a dotted IPv4 address, an IPv6 literal
// with or without brackets) for sockets of `type` (SOCK_STREAM or
// SOCK_DGRAM), with `port`, in the system's order of preference. The failure
// names the real problem: BadArgument "no such host", "the name has no
// address", "name service unavailable now" (the resolver's words), never a
// family the host does not have.
[[nodiscard]] base::Result<std::vector<Endpoint>> lookUpEndpoints(const std::string& host,
                                                                  std::uint16_t port, int type);

// Connects a socket of `type` (close-on-exec, left blocking) to `remote`,
// waiting at most `timeoutMs`: the connected socket (UDP: only associated),
// TimedOut, or the system's failure.
[[nodiscard]] base::Result<int> connectWithin(const Endpoint& remote, int type,
                                              std::uint32_t timeoutMs);

} // namespace net
