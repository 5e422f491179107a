#pragma once

#include "devicehost.h"
#include "deviceintake.h"
#include "devicerecords.h"
#include "devicetable.h"
#include "secureintake.h"
#include "udpdevices.h"

#include "socket/loopstream.h"
#include "socket/streamlistener.h"

#include <memory>

namespace host
{

// DeviceHost's state and work on its loop's thread: the listeners, the TCP
// devices and the hand-over to the console; the device table and its
// published list (DeviceTable), the UDP devices (UdpDevices) and the TLS
// handshakes (SecureIntake) are parts of their own. Every operation but
// snapshot() runs on the loop's thread only; snapshot() on any thread (the
// published list is guarded by its own mutex).
class HostCore
{
public:
    HostCore(net::EventLoop& loop, HostSettings settings, DeviceHost::Handover handover,
             DeviceHost::Notes notes);
    ~HostCore();
    HostCore(const HostCore&) = delete;
    HostCore& operator=(const HostCore&) = delete;

    base::Result<net::Endpoint> listen(DeviceHost::Protocols protocols, const net::Endpoint& local,
                                       std::shared_ptr<tls::TlsContext> tls);
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
    using Device = DeviceTable::Device;

    Device& addDevice(Transport transport, const net::Endpoint& peer, DeviceState state);
    void tcpAccepted(int fd, const net::Endpoint& peer);
    // A TCP device's connection, or the plaintext end of its TLS bridge.
    void accepted(int fd, const net::Endpoint& peer, const TlsFacts& tls);
    void serve(Device& device, int fd);
    void streamRead(std::uint64_t id, std::string_view bytes);
    void endDevice(std::uint64_t id, DeviceState state, std::string why);
    void refuse(Transport transport, const net::Endpoint& peer);
    // A UDP address heard for the first time: a new device (the console's
    // when it wants one).
    Device& udpAdmitted(const net::Endpoint& peer);
    bool handOverUdp(Device& device);
    void sendTo(Device& device, std::string_view bytes);
    void note(const std::string& line);
    void changed() { table_.changed(); }

    net::EventLoop& loop_;
    HostSettings settings_;
    DeviceHost::Handover handover_;
    DeviceHost::Notes notes_;

    // Before the parts that keep references to it.
    DeviceTable table_;
    std::unique_ptr<net::StreamListener> tcp_;
    // The listener's TLS (nullptr: plain); the connections in their
    // handshake and the bridges of TLS devices.
    std::shared_ptr<tls::TlsContext> tls_;
    SecureIntake secure_;
    UdpDevices udp_;
    bool wantDevice_ = false;

    std::vector<check::AnswerRule> answerRules_;
    std::uint32_t answersPerSecond_ = check::AnswerEngine::kDefaultMaxPerSecond;
};

} // namespace host
