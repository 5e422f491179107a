#include "portrange.h"

#include "nettext.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace devicetools
{

namespace
{

void closeQuietly(int fd)
{
    if (fd >= 0) {
        ::close(fd);
    }
}

} // namespace

PortRange::~PortRange()
{
    close();
}

void PortRange::close()
{
    for (const Device& device : devices_) {
        closeQuietly(device.listener);
        closeQuietly(device.udp);
    }
    devices_.clear();
    firstPort_ = 0;
}

bool PortRange::bind(std::uint32_t address, std::uint16_t firstPort, std::uint32_t count,
                     std::string& error)
{
    close();
    if (count == 0 || std::uint32_t{firstPort} + count - 1 > kMaxPort) {
        error = "the ports do not fit below " + std::to_string(kMaxPort + 1);
        return false;
    }
    if (firstPort != 0) {
        return bindFrom(address, firstPort, count, error);
    }
    // A port the system hands out is free now and lies at a random place in
    // its range: the devices take it and those after it, or those before it
    // when the range would pass the last port. A clash means another try.
    for (int attempt = 0; attempt < kSearchAttempts; ++attempt) {
        const std::uint32_t picked = systemPickedPort(address);
        if (picked == 0) {
            error = "cannot bind TCP " + endpointText(makeEndpoint(address, 0)) + ": " +
                    errorText(errno);
            return false;
        }
        const std::uint32_t first = picked + count - 1 <= kMaxPort ? picked : picked + 1 - count;
        if (first != 0 && bindFrom(address, first, count, error)) {
            return true;
        }
    }
    error = "found no " + std::to_string(count) + " free ports in a row (tried " +
            std::to_string(kSearchAttempts) + " ranges; last: " + error + ")";
    return false;
}

bool PortRange::bindFrom(std::uint32_t address, std::uint32_t first, std::uint32_t count,
                         std::string& error)
{
    devices_.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        Device device;
        device.listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        device.udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        devices_.push_back(device);
        if (device.listener < 0 || device.udp < 0) {
            error = "cannot make a socket: " + errorText(errno);
            close();
            return false;
        }
        // A restarted simulator may bind while old connections linger.
        const int on = 1;
        ::setsockopt(device.listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const net::SocketAddress local =
            makeEndpoint(address, static_cast<std::uint16_t>(first + i));
        if (::bind(device.listener, local.asSockaddr(), net::SocketAddress::kSize) != 0 ||
            ::listen(device.listener, kListenBacklog) != 0) {
            error = "cannot listen on TCP " + endpointText(local) + ": " + errorText(errno);
            close();
            return false;
        }
        if (::bind(device.udp, local.asSockaddr(), net::SocketAddress::kSize) != 0) {
            error = "cannot bind UDP " + endpointText(local) + ": " + errorText(errno);
            close();
            return false;
        }
    }
    firstPort_ = static_cast<std::uint16_t>(first);
    return true;
}

std::uint16_t PortRange::systemPickedPort(std::uint32_t address)
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return 0;
    }
    net::SocketAddress local = makeEndpoint(address, 0);
    socklen_t length = net::SocketAddress::kSize;
    std::uint16_t port = 0;
    if (::bind(probe, local.asSockaddr(), net::SocketAddress::kSize) == 0 &&
        ::getsockname(probe, local.asSockaddr(), &length) == 0) {
        port = ntohs(local.port);
    }
    closeQuietly(probe);
    return port;
}

} // namespace devicetools
