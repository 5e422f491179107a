#include "portrange.h"

#include "nettext.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <random>
#include <utility>

namespace devicetools
{

namespace
{

// Linux's own local port range, when /proc does not tell.
constexpr std::uint32_t kDefaultLocalLow = 32768;
constexpr std::uint32_t kDefaultLocalHigh = 60999;

// `address` with `port` (host order).
net::Endpoint withPort(net::Endpoint address, std::uint16_t port)
{
    if (address.family() == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = htons(port);
    }
    return address;
}

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

base::Error PortRange::bind(const net::Endpoint& address, std::uint16_t firstPort,
                            std::uint32_t count)
{
    close();
    if (count == 0 || std::uint32_t{firstPort} + count - 1 > kMaxPort) {
        return base::Error(base::Fault::BadInput, 0,
                           "the ports do not fit below " + std::to_string(kMaxPort + 1));
    }
    if (firstPort == 0) {
        return count == 1 ? pickOne(address) : search(address, count);
    }
    std::uint32_t failed = 0;
    return bindFrom(address, firstPort, count, failed);
}

int PortRange::takeListener(std::uint32_t index)
{
    const int fd = devices_.at(index).listener;
    devices_[index].listener = -1;
    return fd;
}

base::Error PortRange::pickOne(const net::Endpoint& address)
{
    // The system picks the TCP port; the UDP socket then asks for the same
    // number, which another program may hold: try again a few times.
    base::Error error;
    for (int attempt = 0; attempt < kPickAttempts; ++attempt) {
        std::uint32_t failed = 0;
        error = bindFrom(address, 0, 1, failed);
        if (error.ok() || failed == 0) {
            return error;
        }
    }
    return error;
}

base::Error PortRange::search(const net::Endpoint& address, std::uint32_t count)
{
    // The system hands the ports of its local range to outgoing connections,
    // and one recently closed holds its port for a minute (TIME_WAIT), even
    // against a listener with SO_REUSEADDR: the devices go below that range,
    // or above it, where such ports never are.
    std::uint32_t localLow = kDefaultLocalLow;
    std::uint32_t localHigh = kDefaultLocalHigh;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> localLow >> localHigh;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> windows; // first, last port
    if (localLow > kLowestSearched) {
        windows.emplace_back(kLowestSearched, localLow - 1);
    }
    if (localHigh < kMaxPort) {
        windows.emplace_back(std::max(localHigh + 1, kLowestSearched), kMaxPort);
    }
    std::erase_if(windows, [count](const auto& w) { return w.second + 1 - w.first < count; });
    if (windows.empty()) {
        return base::Error(base::Fault::BadInput, 0,
                           std::to_string(count) +
                               " ports in a row do not fit beside the local port range " +
                               std::to_string(localLow) + " to " + std::to_string(localHigh));
    }
    // From a random place on, each port found taken moves the range past it.
    std::minstd_rand random(std::random_device{}());
    std::size_t window = random() % windows.size();
    std::uint32_t first = windows[window].first +
                          random() % (windows[window].second + 2 - count - windows[window].first);
    base::Error error;
    for (int attempt = 0; attempt < kSearchAttempts; ++attempt) {
        std::uint32_t failed = 0;
        error = bindFrom(address, first, count, failed);
        // Only a port in use is worth looking on for.
        if (error.ok() || failed == 0) {
            return error;
        }
        first = failed + 1;
        if (first + count - 1 > windows[window].second) {
            window = (window + 1) % windows.size();
            first = windows[window].first;
        }
    }
    return base::Error(base::Fault::BadInput, 0,
                       "found no " + std::to_string(count) +
                           " free ports in a row (the last taken: " + error.text() + ")");
}

base::Error PortRange::bindFrom(const net::Endpoint& address, std::uint32_t first,
                                std::uint32_t count, std::uint32_t& failed)
{
    const int family = address.family();
    devices_.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        Device device;
        device.listener = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        device.udp = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        devices_.push_back(device);
        failed = 0;
        if (device.listener < 0 || device.udp < 0) {
            const base::Error error = base::Error::fromErrno("cannot make a socket");
            close();
            return error;
        }
        // A restarted simulator may bind while old connections linger.
        const int on = 1;
        ::setsockopt(device.listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (family == AF_INET6) {
            // "::" serves IPv4 peers too, whatever the system's default.
            const int off = 0;
            ::setsockopt(device.listener, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
            ::setsockopt(device.udp, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        }
        const net::Endpoint local = withPort(address, static_cast<std::uint16_t>(first + i));
        if (::bind(device.listener, local.address(), local.length) != 0 ||
            ::listen(device.listener, kListenBacklog) != 0) {
            base::Error error = base::Error::fromErrno("cannot listen on TCP " + local.text());
            failed = error.systemCode() == EADDRINUSE ? first + i : 0;
            close();
            return error;
        }
        if (first == 0) {
            first = net::Endpoint::localOf(device.listener).port();
        }
        const net::Endpoint bound = withPort(address, static_cast<std::uint16_t>(first + i));
        if (::bind(device.udp, bound.address(), bound.length) != 0) {
            base::Error error = base::Error::fromErrno("cannot bind UDP " + bound.text());
            failed = error.systemCode() == EADDRINUSE ? first + i : 0;
            close();
            return error;
        }
    }
    firstPort_ = static_cast<std::uint16_t>(first);
    return {};
}

} // namespace devicetools
