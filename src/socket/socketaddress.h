#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct sockaddr;

namespace net
{

// A 16-byte IPv4 endpoint with the platform's socket-address layout: family in
// host order, port and address in network order, then eight zero bytes. It is
// handed unchanged to bind, connect, getsockname, recvfrom and sendto with the
// length 16, and it is also the address header of a block in the channel's
// address-header mode. A record that is all zero stands for no address.
struct SocketAddress {
    std::uint16_t family = 0;  // host order; 2 is AF_INET
    std::uint16_t port = 0;    // network order
    std::uint32_t address = 0; // network order, first octet first in memory
    std::uint8_t zero[8] = {};

    static constexpr std::uint32_t kSize = 16;

    // True when family, port and address are equal; the trailing eight bytes
    // never decide.
    bool sameEndpoint(const SocketAddress& other) const;

    // True for an address in 127.0.0.0/8.
    bool isLoopback() const;

    // Clears the record, then stores the address of `host` (nullptr: the local
    // host; see resolveHost), the port of `service` (see parsePort) and the low
    // 16 bits of `family`. True when the stored address or port is non-zero,
    // so a host that does not resolve (stored as 255.255.255.255) still gives
    // true; only address 0 together with port 0 gives false.
    bool buildFromText(const char* host, const char* service, std::uint32_t family);

    // The record as the platform's socket address, for the socket calls.
    const sockaddr* asSockaddr() const;
    sockaddr* asSockaddr();
};

// The one dotted form of an IPv4 address, "a.b.c.d" (decimal, no leading
// zeros), of an address in network order as SocketAddress::address holds it.
std::string dottedAddressText(std::uint32_t networkOrderAddress);
// "a.b.c.d:port" of an endpoint, the port in decimal.
std::string endpointText(const SocketAddress& endpoint);

static_assert(sizeof(SocketAddress) == 16);
static_assert(offsetof(SocketAddress, family) == 0);
static_assert(offsetof(SocketAddress, port) == 2);
static_assert(offsetof(SocketAddress, address) == 4);
static_assert(offsetof(SocketAddress, zero) == 8);

} // namespace net
