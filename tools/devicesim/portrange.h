#pragma once

#include "base/error.h"
#include "socket/endpoint.h"

#include <cstdint>
#include <string>
#include <vector>

namespace devicetools
{

// The sockets of a fleet of simulated devices: for each, a listening TCP
// socket and a UDP socket bound to the same port, the ports consecutive.
// Every socket is non-blocking and closed on exec. The destructor closes
// them all. One thread uses it.
class PortRange
{
public:
    struct Device {
        int listener = -1;
        int udp = -1;
    };

    // With first port 0: how many ports found taken end the search.
    static constexpr int kSearchAttempts = 64;
    // With first port 0: the lowest port looked at.
    static constexpr std::uint32_t kLowestSearched = 10000;
    static constexpr int kListenBacklog = 64;
    static constexpr int kPickAttempts = 8;

    PortRange() = default;
    ~PortRange();
    PortRange(const PortRange&) = delete;
    PortRange& operator=(const PortRange&) = delete;

    // Binds `count` devices on `address` (its port unused; an IPv6 address
    // takes IPv4 too, as "::" is meant to, where the system allows) at the ports
    // `firstPort` to `firstPort + count - 1`; with `firstPort` 0 it looks for
    // a range free for both TCP and UDP from kLowestSearched on, outside the
    // system's range for outgoing connections (a single device: any port the
    // system picks that is free for both, tried kPickAttempts times). The failure, with nothing
    // left open, when a socket cannot be bound or no free range turns up.
    base::Error bind(const net::Endpoint& address, std::uint16_t firstPort, std::uint32_t count);
    void close();
    // Hands device `index`'s listening socket over to the caller, who closes
    // it from then on.
    int takeListener(std::uint32_t index);

    std::uint16_t firstPort() const { return firstPort_; }
    const std::vector<Device>& devices() const { return devices_; }

private:
    // Binds the whole range from `first`; on failure says why, and `failed`
    // is the port found in use (0 for any other failure).
    base::Error bindFrom(const net::Endpoint& address, std::uint32_t first, std::uint32_t count,
                         std::uint32_t& failed);
    base::Error search(const net::Endpoint& address, std::uint32_t count);
    base::Error pickOne(const net::Endpoint& address);

    std::vector<Device> devices_;
    std::uint16_t firstPort_ = 0;
};

} // namespace devicetools
