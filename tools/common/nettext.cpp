#include "nettext.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace devicetools
{

std::string endpointText(const net::SocketAddress& endpoint)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = endpoint.address;
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return std::string(text) + ':' + std::to_string(ntohs(endpoint.port));
}

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
    return net::Error::system(code).text();
}

} // namespace devicetools
