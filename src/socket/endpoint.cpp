#include "endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <charconv>
#include <cstring>
#include <functional>

namespace net
{

Endpoint Endpoint::from(const sockaddr* address, socklen_t length)
{
    Endpoint endpoint;
    if (address == nullptr || length == 0)
        return endpoint;
    endpoint.length = std::min<socklen_t>(length, sizeof(endpoint.storage));
    std::memcpy(&endpoint.storage, address, endpoint.length);
    return endpoint;
}

Endpoint Endpoint::peerOf(int fd)
{
    Endpoint endpoint;
    endpoint.length = sizeof(endpoint.storage);
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&endpoint.storage), &endpoint.length) != 0)
        return {};
    return endpoint;
}

Endpoint Endpoint::localOf(int fd)
{
    Endpoint endpoint;
    endpoint.length = sizeof(endpoint.storage);
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&endpoint.storage), &endpoint.length) != 0)
        return {};
    return endpoint;
}

std::optional<Endpoint> Endpoint::fromNumeric(std::string_view address, std::uint16_t port)
{
    const std::string text(address);
    Endpoint endpoint;
    sockaddr_in v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        return from(reinterpret_cast<const sockaddr*>(&v4), sizeof(v4));
    }
    sockaddr_in6 v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        return from(reinterpret_cast<const sockaddr*>(&v6), sizeof(v6));
    }
    return std::nullopt;
}

Endpoint Endpoint::any(int family, std::uint16_t port)
{
    if (family == AF_INET6) {
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_any;
        v6.sin6_port = htons(port);
        return from(reinterpret_cast<const sockaddr*>(&v6), sizeof(v6));
    }
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_ANY);
    v4.sin_port = htons(port);
    return from(reinterpret_cast<const sockaddr*>(&v4), sizeof(v4));
}

base::Result<Endpoint> Endpoint::parseListen(std::string_view text)
{
    const auto bad = [&](std::string reason) {
        return base::Error::input(base::Fault::BadArgument, std::string(text), std::move(reason));
    };
    std::string_view address;
    std::string_view portText = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return bad("an IPv6 address is written in brackets and followed by :PORT");
        address = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        address = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (address.find(':') != std::string_view::npos)
            return bad("an IPv6 address is written in brackets, as in [::1]:21210");
    }
    unsigned port = 0;
    const auto [end, problem] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || problem != std::errc() || end != portText.data() + portText.size() ||
        port > 65535)
        return bad("the port is a number from 0 to 65535");
    if (address.empty())
        return any(AF_INET, static_cast<std::uint16_t>(port));
    const std::optional<Endpoint> endpoint = fromNumeric(address, static_cast<std::uint16_t>(port));
    if (!endpoint)
        return bad("\"" + std::string(address) + "\" is no IPv4 or IPv6 address");
    return *endpoint;
}

std::uint16_t Endpoint::port() const
{
    if (family() == AF_INET && length >= sizeof(sockaddr_in))
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    if (family() == AF_INET6 && length >= sizeof(sockaddr_in6))
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return 0;
}

std::string Endpoint::addressText() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (family() == AF_INET && length >= sizeof(sockaddr_in))
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr, text,
                    sizeof(text));
    else if (family() == AF_INET6 && length >= sizeof(sockaddr_in6))
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, text,
                    sizeof(text));
    return text;
}

std::string Endpoint::text() const
{
    const std::string address = addressText();
    if (address.empty())
        return {};
    if (family() == AF_INET6)
        return "[" + address + "]:" + std::to_string(port());
    return address + ":" + std::to_string(port());
}

bool Endpoint::operator==(const Endpoint& other) const
{
    if (family() != other.family() || port() != other.port())
        return false;
    if (family() == AF_INET)
        return reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(&other.storage)->sin_addr.s_addr;
    if (family() == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6*>(&other.storage)->sin6_addr,
                           sizeof(in6_addr)) == 0;
    return length == other.length && std::memcmp(&storage, &other.storage, length) == 0;
}

std::size_t EndpointHash::operator()(const Endpoint& endpoint) const
{
    std::size_t hash = std::hash<int>()(endpoint.family()) ^ (std::size_t{endpoint.port()} << 16);
    if (endpoint.family() == AF_INET) {
        hash ^= std::hash<std::uint32_t>()(
            reinterpret_cast<const sockaddr_in*>(&endpoint.storage)->sin_addr.s_addr);
    } else if (endpoint.family() == AF_INET6) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(
            &reinterpret_cast<const sockaddr_in6*>(&endpoint.storage)->sin6_addr);
        for (std::size_t i = 0; i < sizeof(in6_addr); ++i)
            hash = hash * 131 + bytes[i];
    }
    return hash;
}

} // namespace net
