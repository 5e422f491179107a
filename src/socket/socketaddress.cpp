#include "socketaddress.h"

#include "hostlookup.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <type_traits>

namespace net
{

// Copying must copy all 16 bytes, and the socket calls take the record as it
// lies in memory.
static_assert(std::is_trivially_copyable_v<SocketAddress>);
static_assert(sizeof(SocketAddress) == sizeof(sockaddr_in));
static_assert(offsetof(sockaddr_in, sin_family) == offsetof(SocketAddress, family));
static_assert(offsetof(sockaddr_in, sin_port) == offsetof(SocketAddress, port));
static_assert(offsetof(sockaddr_in, sin_addr) == offsetof(SocketAddress, address));

namespace
{
constexpr std::size_t kEndpointBytes = 8;           // family, port and address
constexpr std::uint32_t kLoopbackNet = 0x7F000000u; // 127.0.0.0/8, host order
constexpr std::uint32_t kLoopbackMask = 0xFF000000u;
} // namespace

bool SocketAddress::sameEndpoint(const SocketAddress& other) const
{
    return std::memcmp(this, &other, kEndpointBytes) == 0;
}

bool SocketAddress::buildFromText(const char* host, const char* service, std::uint32_t family)
{
    *this = SocketAddress{};
    address = htonl(resolveHost(host));
    port = htons(parsePort(service));
    this->family = static_cast<std::uint16_t>(family & 0xFFFFu);
    return address != 0 || port != 0;
}

bool SocketAddress::isLoopback() const
{
    return (ntohl(address) & kLoopbackMask) == kLoopbackNet;
}

std::string dottedAddressText(std::uint32_t networkOrderAddress)
{
    unsigned char octets[sizeof networkOrderAddress];
    std::memcpy(octets, &networkOrderAddress, sizeof octets);
    std::string text;
    for (const unsigned char octet : octets) {
        if (!text.empty())
            text += '.';
        text += std::to_string(octet);
    }
    return text;
}

std::string endpointText(const SocketAddress& endpoint)
{
    return dottedAddressText(endpoint.address) + ':' + std::to_string(ntohs(endpoint.port));
}

const sockaddr* SocketAddress::asSockaddr() const
{
    return reinterpret_cast<const sockaddr*>(this);
}

sockaddr* SocketAddress::asSockaddr()
{
    return reinterpret_cast<sockaddr*>(this);
}

} // namespace net
