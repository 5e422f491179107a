#pragma once

#include "devicehost.h"
#include "deviceintake.h"
#include "devicerecords.h"

#include "socket/loopstream.h"
#include "socket/streamlistener.h"

#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace host
{

// DeviceHost's state and work on its loop's thread: the listeners, every
// device, the list it publishes. Every operation but snapshot() runs on the
// loop's thread only; snapshot() on any thread (the published list is
// guarded by its own mutex).
class HostCore
{
public:
    HostCore(net::EventLoop& loop, HostSettings settings, DeviceHost::Handover handover,
             DeviceHost::Notes notes);
    ~HostCore();
    HostCore(const HostCore&) = delete;
    HostCore& operator=(const HostCore&) = delete;

    base::Result<net::Endpoint> listen(DeviceHost::Protocols protocols, const net::Endpoint& local);
    void stopListening();
    void wantDevice(bool on) { wantDevice_ = on; }
    bool takeDevice(std::uint64_t id);
    void giveBack(std::uint64_t id, int fd);
    void handedDeviceEnded(std::uint64_t id, DeviceState state, const std::string& why);
    void send(std::uint64_t id, std::string_view bytes);
    void close(std::uint64_t id);
    void setAnswers(std::vector<check::AnswerRule> rules, std::uint32_t maxPerSecond,
                    protocol::DelimiterMode mode);
    void setRecorder(std::shared_ptr<traffic::RecordSink> recorder);
    // Closes every device the host serves and its listeners.
    void closeAll();
    // closeAll(), and the list is published for the last time (the host ends).
    void shutdown();

    HostSnapshot snapshot() const;

private:
    struct Device {
        explicit Device(protocol::DelimiterMode mode) : intake(mode) {}
        DeviceRow row;
        DeviceIntake intake;
        std::unique_ptr<net::LoopStream> stream; // TCP, while served here
        net::EventLoop::Instant lastHeard;       // UDP
        net::EventLoop::TimerId idleTimer = 0;   // UDP
        // UDP, with the console: the host's end of the pair whose other end
        // the console's channel holds.
        int relay = -1;
        // While recording is on and the host serves it.
        std::unique_ptr<DeviceRecords> records;
    };

    std::size_t connectedCount() const { return devices_.size(); }
    Device& addDevice(Transport transport, const net::Endpoint& peer, DeviceState state);
    void accepted(int fd, const net::Endpoint& peer);
    void serve(Device& device, int fd);
    void streamRead(std::uint64_t id, std::string_view bytes);
    void endDevice(std::uint64_t id, DeviceState state, std::string why);
    void refuse(Transport transport, const net::Endpoint& peer);
    void udpReadable();
    void udpDatagram(const net::Endpoint& peer, std::string_view datagram);
    void armIdle(Device& device);
    bool handOverUdp(Device& device);
    void relayReadable(std::uint64_t id);
    void closeRelay(Device& device);
    void idleCheck(std::uint64_t id);
    void sendTo(Device& device, std::string_view bytes);
    void note(const std::string& line);
    // Starts a device's record when recording is on; hands one out (after
    // `event`, when given) to the recorder.
    void startRecords(Device& device);
    void handOutRecords(Device& device, std::string_view event = {});
    void changed() { changed_ = true; }
    void publish();

    net::EventLoop& loop_;
    HostSettings settings_;
    DeviceHost::Handover handover_;
    DeviceHost::Notes notes_;

    std::unique_ptr<net::StreamListener> tcp_;
    int udp_ = -1;
    net::Endpoint udpLocal_;
    bool wantDevice_ = false;
    std::uint64_t nextId_ = 1;
    std::unordered_map<std::uint64_t, std::unique_ptr<Device>> devices_; // connected
    std::unordered_map<net::Endpoint, std::uint64_t, net::EndpointHash> udpPeers_;
    // UDP peers refused beyond the bound, noted once each (bounded).
    std::unordered_set<net::Endpoint, net::EndpointHash> refusedUdp_;
    std::deque<DeviceRow> ended_;
    std::uint64_t refused_ = 0;

    std::shared_ptr<traffic::RecordSink> recorder_;
    std::vector<check::AnswerRule> answerRules_;
    std::uint32_t answersPerSecond_ = check::AnswerEngine::kDefaultMaxPerSecond;

    bool changed_ = true;
    net::EventLoop::TimerId publishTimer_ = 0;
    mutable std::mutex publishedLock_;
    HostSnapshot published_; // guarded by publishedLock_
};

} // namespace host
