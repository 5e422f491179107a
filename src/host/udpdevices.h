#pragma once

#include "devicetable.h"
#include "hostsettings.h"
#include "udpport.h"

#include "base/error.h"

#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace host
{

// The host's UDP devices: each an address heard on the UDP socket (UdpPort),
// served from it (its frames read, answered, recorded), silent for
// HostSettings::udpIdle it ends (Dropped). Beyond HostSettings::maxDevices a
// new address is refused, told once (of a bounded set of addresses). Handed
// to the console, a device is relayed (relay()): what it sends goes to the
// console's end, and what the console sends goes to its address.
//
// The owner (HostCore) adds each new device to the table and may hand it to
// the console (Admit), notes a refusal (Refuse) and ends devices (End, which
// calls forget()).
//
// Threads: the loop's thread only; handlers run there.
class UdpDevices
{
public:
    using Device = DeviceTable::Device;
    using Admit = std::function<Device&(const net::Endpoint& peer)>;
    using Refuse = std::function<void(const net::Endpoint& peer)>;
    using End = std::function<void(std::uint64_t id, DeviceState state, std::string why)>;

    UdpDevices(net::EventLoop& loop, DeviceTable& table, const HostSettings& settings, Admit admit,
               Refuse refuse, End end);
    UdpDevices(const UdpDevices&) = delete;
    UdpDevices& operator=(const UdpDevices&) = delete;

    // Listens on `where`: the address bound, or the system's failure.
    [[nodiscard]] base::Result<net::Endpoint> open(const net::Endpoint& where);
    // Ends every UDP device (ClosedHere) and closes the socket.
    void close();
    bool isOpen() const { return port_.isOpen(); }
    const net::Endpoint& local() const { return port_.local(); }

    // A datagram to a device (dropped when the socket cannot take it now,
    // as a busy network would drop it), counted and recorded.
    void send(Device& device, std::string_view bytes);
    // The console's end of a relay for `device`, or the system's failure.
    [[nodiscard]] base::Result<int> relay(Device& device);
    void endRelay(std::uint64_t id) { port_.closeRelay(id); }
    // The device has ended: its address, timer and relay go.
    void forget(Device& device);

private:
    void datagram(const net::Endpoint& peer, std::string_view bytes);
    void armIdle(Device& device);
    void idleCheck(std::uint64_t id);

    net::EventLoop& loop_;
    DeviceTable& table_;
    std::size_t maxDevices_;
    std::chrono::milliseconds idle_;
    Admit admit_;
    Refuse refuse_;
    End end_;
    UdpPort port_;
    std::unordered_map<net::Endpoint, std::uint64_t, net::EndpointHash> peers_;
    // Addresses refused beyond the bound, told once each (bounded).
    std::unordered_set<net::Endpoint, net::EndpointHash> refused_;
};

} // namespace host
