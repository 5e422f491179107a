#include "udpdevices.h"

#include <vector>

namespace host
{

namespace
{

constexpr std::size_t kRefusedKept = 1024;

} // namespace

UdpDevices::UdpDevices(net::EventLoop& loop, DeviceTable& table, const HostSettings& settings,
                       Admit admit, Refuse refuse, End end)
    : loop_(loop), table_(table), maxDevices_(settings.maxDevices), idle_(settings.udpIdle),
      admit_(std::move(admit)), refuse_(std::move(refuse)), end_(std::move(end)),
      port_(
          loop,
          [this](const net::Endpoint& peer, std::string_view bytes) { datagram(peer, bytes); },
          [this](std::uint64_t id, std::size_t bytes) {
              if (Device* device = table_.find(id)) {
                  device->row.bytesOut += bytes;
                  table_.changed();
              }
          })
{
}

base::Result<net::Endpoint> UdpDevices::open(const net::Endpoint& where)
{
    return port_.open(where);
}

void UdpDevices::close()
{
    if (!port_.isOpen())
        return;
    // UDP devices are heard on the listening socket only: they end with it.
    std::vector<std::uint64_t> ids;
    for (const auto& [peer, id] : peers_)
        ids.push_back(id);
    for (const std::uint64_t id : ids)
        end_(id, DeviceState::ClosedHere, {});
    port_.close();
}

void UdpDevices::send(Device& device, std::string_view bytes)
{
    const base::Error failure = port_.sendTo(device.row.peer, bytes);
    if (failure.ok())
        device.row.bytesOut += bytes.size();
    if (device.records)
        device.records->written(bytes, failure);
    table_.changed();
}

base::Result<int> UdpDevices::relay(Device& device)
{
    return port_.openRelay(device.row.id, device.row.peer);
}

void UdpDevices::forget(Device& device)
{
    peers_.erase(device.row.peer);
    loop_.cancel(device.idleTimer);
    port_.closeRelay(device.row.id);
}

void UdpDevices::datagram(const net::Endpoint& peer, std::string_view bytes)
{
    Device* device = nullptr;
    if (const auto known = peers_.find(peer); known != peers_.end()) {
        device = table_.find(known->second);
    } else if (table_.connected() >= maxDevices_) {
        if (refused_.size() >= kRefusedKept)
            refused_.clear();
        if (refused_.insert(peer).second)
            refuse_(peer);
        return;
    } else {
        device = &admit_(peer);
        peers_.emplace(peer, device->row.id);
        device->lastHeard = loop_.now();
        armIdle(*device);
    }
    if (device == nullptr)
        return;
    device->lastHeard = loop_.now();
    device->row.bytesIn += bytes.size();
    if (device->row.state == DeviceState::WithConsole) {
        // The console answers its own device; one its end cannot take now
        // is dropped, as a busy network would.
        port_.toRelay(device->row.id, bytes);
        static_cast<void>(device->intake.received(bytes, check::Chunk::Datagram, loop_.now()));
        device->row.lastFrame = device->intake.lastFrame();
        table_.changed();
        return;
    }
    if (device->records)
        device->records->read(bytes);
    const std::vector<std::string> answers =
        device->intake.received(bytes, check::Chunk::Datagram, loop_.now());
    device->row.lastFrame = device->intake.lastFrame();
    for (const std::string& answer : answers)
        send(*device, answer);
    table_.changed();
}

void UdpDevices::armIdle(Device& device)
{
    const std::uint64_t id = device.row.id;
    // One timer per device, moved on only when it fires: a device that keeps
    // talking costs no timer work per datagram.
    device.idleTimer = loop_.at(device.lastHeard + idle_, [this, id] { idleCheck(id); });
}

void UdpDevices::idleCheck(std::uint64_t id)
{
    Device* device = table_.find(id);
    if (device == nullptr)
        return;
    if (loop_.now() - device->lastHeard >= idle_) {
        end_(id, DeviceState::Dropped, "silent for " + std::to_string(idle_.count() / 1000) + " s");
        return;
    }
    armIdle(*device);
}

} // namespace host
