#pragma once

#include "dialingdevices.h"
#include "loopclients.h"
#include "portrange.h"
#include "sessionparts.h"
#include "simulatorconfig.h"
#include "simulatorlog.h"
#include "udpservice.h"

#include "base/error.h"
#include "socket/eventloop.h"
#include "socket/streamlistener.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace devicetools
{

// The simulated devices of one process, all on one event loop on one thread,
// however many there are.
//
// Listening (no config.connectHost): config.devices devices on the
// consecutive ports from config.port (0: a free range the system has room
// for; a single device, config.devices 0, gets any free port), each on TCP
// and UDP, answering by the same PeerSession, Responder and FaultModes. The
// limits of the configuration apply to each device: maxClients TCP clients
// at a time (one beyond is closed at once, with a log line), the idle
// time-out for each client, UdpService::kMaxPeers UDP peers. Running out of
// descriptors is logged once until accepting works again. The single device
// logs its peers as "tcp a.b.c.d:port" (IPv6: "tcp [v6]:port"), a fleet's
// add " to port N". An IPv6 address listens on both families ("::": every
// address of both).
//
// Dialing (config.connectHost): the devices dial that host (DialingDevices)
// and answer on the connections they make by the same rules.
//
// With config.tls.on, every TCP connection speaks TLS (LoopClients): a
// listening device shows the certificate of config.tls (or one made at
// start, naming the listen address, 127.0.0.1, ::1 and localhost); a dialing
// one accepts its host when config.tls judges it so, else it dials again by
// its schedule.
//
// With config.eventsPerSecond, every connection, accepted or dialed, gets
// the device's event frames (LoopClients).
//
// Threads: start() and stop() from one owner thread. start() runs the loop
// thread; stop() ends it at once (the loop is told through post() and
// quit()), also in the middle of a pause or a flood, and joins it. The
// configuration and log must outlive the simulator.
class FleetSimulator
{
public:
    // Descriptors besides the devices' sockets: standard streams, the loop's
    // own, the log's.
    static constexpr std::uint64_t kSpareDescriptors = 32;
    // With port 0, a single device: how often to look for a port that is
    // free for both TCP and UDP.
    static constexpr int kBindAttempts = 8;

    FleetSimulator(const SimulatorConfig& config, SimulatorLog& log);
    // Stops the simulator.
    ~FleetSimulator();
    FleetSimulator(const FleetSimulator&) = delete;
    FleetSimulator& operator=(const FleetSimulator&) = delete;

    // Open files a simulator of this configuration may need at most: for
    // each device two sockets and its client slots (dialing: one socket),
    // and a few more.
    static std::uint64_t descriptorsNeeded(const SimulatorConfig& config);

    // Binds every device (or resolves the host to dial) and starts the loop.
    // The failure, with nothing left open, when an address does not resolve,
    // a port cannot be bound (or with port 0, no free range turns up), a TLS
    // certificate or key cannot be used, the loop cannot be made, or it was
    // started before.
    base::Error start();
    // Closes every client (logging each), ends the loop and closes every
    // socket; may be called any number of times.
    void stop();

    // After start(), listening: the first device's port (the others follow
    // it) and the address (its port unset).
    std::uint16_t firstPort() const { return ports_.firstPort(); }
    std::uint16_t port() const { return firstPort(); }
    const net::Endpoint& address() const { return address_; }
    // After start() with TLS, listening: the fingerprint of the certificate
    // shown ("SHA256:AB:..."), and whether it was made at start.
    const std::string& tlsFingerprint() const { return tlsFingerprint_; }
    bool tlsCertificateMade() const { return tlsCertificateMade_; }
    // TCP connections being served right now, over all devices; any thread.
    std::uint32_t activeClients() const;

private:
    struct Device {
        std::uint16_t port = 0;
        std::unique_ptr<net::StreamListener> listener;
        std::uint32_t clients = 0;
        int udpFd = -1;
        std::unique_ptr<UdpService> udp;
        net::EventLoop::TimerId udpTimer = 0;
        PacedOutput::Clock::time_point udpDueAt{};
        std::string peerSuffix;
    };

    base::Error startListening();
    base::Error startDialing();
    base::Error startTls();
    void accept(std::uint32_t device, int fd, const net::Endpoint& peer);
    void acceptFailed(const base::Error& error);
    void onUdp(std::uint32_t device);
    void settleUdp(std::uint32_t device);
    void run();

    const SimulatorConfig& config_;
    SimulatorLog& log_;
    SessionParts parts_;
    net::EventLoop loop_;
    LoopClients clients_;
    PortRange ports_;
    net::Endpoint address_;
    std::string tlsFingerprint_;
    bool tlsCertificateMade_ = false;
    bool started_ = false;
    std::thread thread_;
    std::atomic<std::uint32_t> activeClients_{0};

    // The loop thread's own once it runs.
    std::vector<Device> devices_;
    std::unique_ptr<DialingDevices> dialing_;
    base::Error acceptError_;
};

} // namespace devicetools
