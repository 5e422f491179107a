#include "devicetable.h"

#include <algorithm>

namespace host
{

DeviceTable::DeviceTable(net::EventLoop& loop, const HostSettings& settings)
    : loop_(loop), publishEvery_(settings.publishEvery), maxEndedRows_(settings.maxEndedRows)
{
    publishTimer_ = loop_.after(publishEvery_, [this] { publish(); });
}

DeviceTable::~DeviceTable()
{
    loop_.cancel(publishTimer_);
}

DeviceTable::Device& DeviceTable::add(Transport transport, const net::Endpoint& peer,
                                      DeviceState state, protocol::DelimiterMode mode)
{
    auto device = std::make_unique<Device>(mode);
    device->row.id = nextId_++;
    device->row.transport = transport;
    device->row.peer = peer;
    device->row.since = std::chrono::system_clock::now();
    device->row.state = state;
    Device& kept = *device;
    devices_.emplace(kept.row.id, std::move(device));
    changed();
    return kept;
}

DeviceTable::Device* DeviceTable::find(std::uint64_t id)
{
    const auto found = devices_.find(id);
    return found == devices_.end() ? nullptr : found->second.get();
}

std::unique_ptr<DeviceTable::Device> DeviceTable::remove(std::uint64_t id)
{
    const auto found = devices_.find(id);
    if (found == devices_.end())
        return nullptr;
    std::unique_ptr<Device> device = std::move(found->second);
    devices_.erase(found);
    changed();
    return device;
}

void DeviceTable::ended(DeviceRow row)
{
    ended_.push_back(std::move(row));
    while (ended_.size() > maxEndedRows_)
        ended_.pop_front();
    changed();
}

void DeviceTable::refused()
{
    ++refused_;
    changed();
}

void DeviceTable::setRecorder(std::shared_ptr<traffic::RecordSink> recorder)
{
    if (recorder == recorder_)
        return;
    for (auto& [id, device] : devices_)
        if (device->records) {
            device->records->note("Recording stopped");
            handOutRecords(*device);
        }
    recorder_ = std::move(recorder);
    for (auto& [id, device] : devices_)
        if (device->row.state == DeviceState::Connected)
            startRecords(*device);
}

void DeviceTable::startRecords(Device& device)
{
    if (!recorder_)
        return;
    device.records = std::make_unique<DeviceRecords>(device.row.transport, device.row.peer);
    if (device.row.tls.on())
        device.records->note("TLS " + device.row.tls.text());
}

void DeviceTable::handOutRecords(Device& device, std::string_view event)
{
    if (!device.records)
        return;
    if (!event.empty())
        device.records->note(event);
    if (recorder_)
        device.records->handOut(*recorder_);
    device.records.reset();
}

void DeviceTable::setListening(const net::Endpoint& tcpLocal, const net::Endpoint& udpLocal)
{
    tcpLocal_ = tcpLocal;
    udpLocal_ = udpLocal;
    changed();
}

void DeviceTable::stop()
{
    loop_.cancel(publishTimer_);
    publishTimer_ = 0;
    changed();
    publish();
}

void DeviceTable::publish()
{
    if (changed_) {
        changed_ = false;
        HostSnapshot next;
        next.tcpLocal = tcpLocal_;
        next.udpLocal = udpLocal_;
        next.refused = refused_;
        next.connected = devices_.size();
        next.rows.reserve(ended_.size() + devices_.size());
        next.rows.assign(ended_.begin(), ended_.end());
        for (const auto& [id, device] : devices_)
            next.rows.push_back(device->row);
        std::sort(next.rows.begin(), next.rows.end(),
                  [](const DeviceRow& a, const DeviceRow& b) { return a.id < b.id; });
        const std::lock_guard<std::mutex> lock(publishedLock_);
        next.version = published_.version + 1;
        published_ = std::move(next);
    }
    if (publishTimer_ != 0)
        publishTimer_ = loop_.after(publishEvery_, [this] { publish(); });
}

HostSnapshot DeviceTable::snapshot() const
{
    const std::lock_guard<std::mutex> lock(publishedLock_);
    return published_;
}

} // namespace host
