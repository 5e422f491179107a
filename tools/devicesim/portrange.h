#pragma once

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

    // With first port 0: how many ranges to try before giving up.
    static constexpr int kSearchAttempts = 32;
    static constexpr int kListenBacklog = 64;

    PortRange() = default;
    ~PortRange();
    PortRange(const PortRange&) = delete;
    PortRange& operator=(const PortRange&) = delete;

    // Binds `count` devices on `address` (host order) at the ports
    // `firstPort` to `firstPort + count - 1`; with `firstPort` 0 it looks for
    // a range free for both TCP and UDP. False, with `error` set and nothing
    // left open, when a socket cannot be bound or no free range turns up.
    bool bind(std::uint32_t address, std::uint16_t firstPort, std::uint32_t count,
              std::string& error);
    void close();

    std::uint16_t firstPort() const { return firstPort_; }
    const std::vector<Device>& devices() const { return devices_; }

private:
    // Binds the whole range from `first`; on failure `error` names the port.
    bool bindFrom(std::uint32_t address, std::uint32_t first, std::uint32_t count,
                  std::string& error);
    // A port the system picks as free for TCP, or 0.
    static std::uint16_t systemPickedPort(std::uint32_t address);

    std::vector<Device> devices_;
    std::uint16_t firstPort_ = 0;
};

} // namespace devicetools
