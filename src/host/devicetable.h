#pragma once

#include "deviceintake.h"
#include "devicerecords.h"
#include "devicerow.h"
#include "hostsettings.h"

#include "socket/eventloop.h"
#include "socket/loopstream.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace host
{

// The host's devices and the list it publishes: every connected device with
// its row and its records (while recording is on and the host serves it),
// the ended rows (the newest HostSettings::maxEndedRows), the count
// of devices refused, and the picture of all that (HostSnapshot) brought up
// to date every HostSettings::publishEvery when something changed.
//
// Threads: the loop's thread only, but snapshot() on any thread (the
// published list is guarded by its own mutex).
class DeviceTable
{
public:
    struct Device {
        explicit Device(protocol::DelimiterMode mode) : intake(mode) {}
        DeviceRow row;
        DeviceIntake intake;
        std::unique_ptr<net::LoopStream> stream; // TCP, while served here
        net::EventLoop::Instant lastHeard;       // UDP
        net::EventLoop::TimerId idleTimer = 0;   // UDP
        // While recording is on and the host serves it.
        std::unique_ptr<DeviceRecords> records;
    };
    using Devices = std::unordered_map<std::uint64_t, std::unique_ptr<Device>>;

    DeviceTable(net::EventLoop& loop, const HostSettings& settings);
    ~DeviceTable();
    DeviceTable(const DeviceTable&) = delete;
    DeviceTable& operator=(const DeviceTable&) = delete;

    // A new device (its id the next one).
    Device& add(Transport transport, const net::Endpoint& peer, DeviceState state,
                protocol::DelimiterMode mode);
    Device* find(std::uint64_t id);
    Devices& devices() { return devices_; }
    std::size_t connected() const { return devices_.size(); }
    // Takes a device out of the connected ones (nullptr for an unknown id).
    std::unique_ptr<Device> remove(std::uint64_t id);
    // Keeps an ended device's row.
    void ended(DeviceRow row);
    void refused();
    // Records every served device's traffic into `recorder` from now on
    // (nullptr: no more); the records kept so far go to the recorder before.
    void setRecorder(std::shared_ptr<traffic::RecordSink> recorder);
    // Starts a device's records when recording is on (with its TLS session).
    void startRecords(Device& device);
    // Hands a device's records out (after `event`, when given) to the recorder.
    void handOutRecords(Device& device, std::string_view event = {});
    void setListening(const net::Endpoint& tcpLocal, const net::Endpoint& udpLocal);
    void changed() { changed_ = true; }
    // Publishes for the last time; no more from now on.
    void stop();

    HostSnapshot snapshot() const;

private:
    void publish();

    net::EventLoop& loop_;
    std::chrono::milliseconds publishEvery_;
    std::size_t maxEndedRows_;
    std::uint64_t nextId_ = 1;
    Devices devices_;
    std::deque<DeviceRow> ended_;
    std::uint64_t refused_ = 0;
    std::shared_ptr<traffic::RecordSink> recorder_;
    net::Endpoint tcpLocal_;
    net::Endpoint udpLocal_;
    bool changed_ = true;
    net::EventLoop::TimerId publishTimer_ = 0;
    mutable std::mutex publishedLock_;
    HostSnapshot published_; // guarded by publishedLock_
};

} // namespace host
