#include "nettext.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace devicetools
{

namespace
{

// Room for any errno text.
constexpr std::size_t kErrorTextSize = 256;

} // namespace

net::SocketAddress makeEndpoint(std::uint32_t hostOrderAddress, std::uint16_t port)
{
    net::SocketAddress endpoint;
    endpoint.family = AF_INET;
    endpoint.port = htons(port);
    endpoint.address = htonl(hostOrderAddress);
    return endpoint;
}

std::string errorText(int code)
{
    char buffer[kErrorTextSize] = {};
    // The GNU strerror_r may return a static text instead of filling the buffer.
    return ::strerror_r(code, buffer, sizeof buffer);
}

} // namespace devicetools
