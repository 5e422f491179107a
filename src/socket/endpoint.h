#pragma once

#include <sys/socket.h>

#include "base/error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace net
{

// A socket address of any family the system gives (IPv4, IPv6): what
// accept(), recvfrom() and getpeername() fill. A value; any thread.
struct Endpoint {
    sockaddr_storage storage{};
    socklen_t length = 0;

    // Copies `length` bytes of `address` (at most sizeof(storage)).
    static Endpoint from(const sockaddr* address, socklen_t length);
    // The peer of a connected socket, or an empty endpoint.
    static Endpoint peerOf(int fd);
    // The socket's own address, or an empty endpoint.
    static Endpoint localOf(int fd);

    // A numeric address ("a.b.c.d", or an IPv6 literal without brackets) and
    // a port; nothing when the address is neither.
    static std::optional<Endpoint> fromNumeric(std::string_view address, std::uint16_t port);
    // Every address of `family` (AF_INET or AF_INET6) and a port.
    static Endpoint any(int family, std::uint16_t port);
    // Where to listen, as the command lines take it: "[ADDR:]PORT", ADDR an
    // IPv4 address or an IPv6 one in brackets ("[::]:21210"); without ADDR
    // every IPv4 address. PORT 0..65535 (0: one the system chooses).
    // BadArgument with the reason when the text is none of these.
    [[nodiscard]] static base::Result<Endpoint> parseListen(std::string_view text);

    bool empty() const { return length == 0; }
    int family() const { return storage.ss_family; }
    // Host order; 0 for an empty endpoint or another family.
    std::uint16_t port() const;
    // "a.b.c.d:port" for IPv4, "[v6]:port" for IPv6, "" for an empty endpoint.
    std::string text() const;
    // The address alone: "a.b.c.d" or "v6" (no brackets).
    std::string addressText() const;
    const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&storage); }
    // Same family, address and port.
    bool operator==(const Endpoint& other) const;
};

// For unordered containers keyed by endpoint.
struct EndpointHash {
    std::size_t operator()(const Endpoint& endpoint) const;
};

} // namespace net
