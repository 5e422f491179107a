#include "nettext.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace devicetools
{

net::SocketAddress makeEndpoint(std::uint32_t hostOrderAddress, std::uint16_t port)
{
    net::SocketAddress endpoint;
    endpoint.family = AF_INET;
    endpoint.port = htons(port);
    endpoint.address = htonl(hostOrderAddress);
    return endpoint;
}

} // namespace devicetools
