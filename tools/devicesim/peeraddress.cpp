#include "peeraddress.h"

#include <netinet/in.h>

#include <cstring>
#include <optional>

namespace devicetools
{

namespace
{

// The IPv4 address mapped into an IPv6 one ("::ffff:a.b.c.d"), as the
// endpoint it stands for; nothing for any other endpoint.
std::optional<net::Endpoint> unmapped(const net::Endpoint& peer)
{
    if (peer.family() != AF_INET6 || peer.length < sizeof(sockaddr_in6)) {
        return std::nullopt;
    }
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer.storage);
    if (!IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
        return std::nullopt;
    }
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = v6->sin6_port;
    std::memcpy(&v4.sin_addr, &v6->sin6_addr.s6_addr[12], sizeof v4.sin_addr);
    return net::Endpoint::from(reinterpret_cast<const sockaddr*>(&v4), sizeof v4);
}

} // namespace

std::string peerAddressText(const net::Endpoint& peer)
{
    const std::optional<net::Endpoint> v4 = unmapped(peer);
    return v4 ? v4->text() : peer.text();
}

bool isLoopbackAddress(const net::Endpoint& address)
{
    const net::Endpoint plain = unmapped(address).value_or(address);
    if (plain.family() == AF_INET6) {
        return IN6_IS_ADDR_LOOPBACK(
            &reinterpret_cast<const sockaddr_in6*>(&plain.storage)->sin6_addr);
    }
    return plain.family() == AF_INET && plain.addressText().starts_with("127.");
}

} // namespace devicetools
