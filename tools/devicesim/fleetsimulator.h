#pragma once

#include "fleetconnection.h"
#include "peersession.h"
#include "portrange.h"
#include "responder.h"
#include "sessionparts.h"
#include "simulatorconfig.h"
#include "simulatorlog.h"
#include "stopsignal.h"
#include "udpservice.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace devicetools
{

// A fleet of simulated devices in one process: config.devices devices on the
// consecutive ports from config.port (0: a free range the system has room
// for), each listening on TCP and UDP and answering as the single device
// does (the same PeerSession, Responder and FaultModes). The limits of the
// configuration apply to each device: maxClients TCP clients at a time, the
// idle time-out for each client, UdpService::kMaxPeers UDP peers.
//
// Threads: start() and stop() from one owner thread. start() runs one event
// loop thread (epoll) that serves every device and client, however many;
// stop() ends and joins it. The configuration and log must outlive the
// simulator.
class FleetSimulator
{
public:
    // How often idle and stalled clients are looked for.
    static constexpr std::uint32_t kSweepMs = 100;
    // How long a listener rests after a failed accept (no descriptors left).
    static constexpr std::uint32_t kAcceptRetryMs = 100;
    static constexpr int kEventBatch = 256;
    // Clients taken from one listener in a turn of the loop.
    static constexpr int kAcceptsPerTurn = 16;
    // Descriptors besides the devices' sockets: standard streams, the loop's
    // own, the log's.
    static constexpr std::uint64_t kSpareDescriptors = 32;

    FleetSimulator(const SimulatorConfig& config, SimulatorLog& log);
    // Stops the simulator.
    ~FleetSimulator();
    FleetSimulator(const FleetSimulator&) = delete;
    FleetSimulator& operator=(const FleetSimulator&) = delete;

    // Open files a fleet of this configuration may need at most: two sockets
    // and the client slots of every device, and a few more.
    static std::uint64_t descriptorsNeeded(const SimulatorConfig& config);

    // Binds every device and starts the loop. The failure, with nothing left
    // open, when the address does not resolve, a port cannot
    // be bound (or with port 0, no free range turns up), or it was started
    // before.
    base::Error start();
    // Closes every client (logging each), ends the loop and closes every
    // socket; may be called any number of times.
    void stop();

    // After start(): the first device's port (the others follow it) and the
    // address, host order.
    std::uint16_t firstPort() const { return ports_.firstPort(); }
    std::uint32_t address() const { return address_; }
    // TCP clients being served right now, over all devices.
    std::uint32_t activeClients() const { return activeClients_.load(); }

private:
    struct Device {
        std::uint16_t port = 0;
        int listener = -1;
        std::uint32_t clients = 0;
        std::unique_ptr<UdpService> udp;
        bool udpTimed = false;
        std::string peerSuffix;
    };
    struct Slot {
        std::unique_ptr<FleetConnection> connection;
        std::uint32_t device = 0;
        std::uint32_t events = 0;
        bool timed = false;
    };

    void run();
    int waitMs() const;
    void acceptClients(std::uint32_t device);
    void acceptFailed(std::uint32_t device, const base::Error& error);
    void clientEvent(std::uint32_t slot, std::uint32_t events);
    // After anything happened to a client: ends it, or sets what the loop
    // waits for on it.
    void settle(std::uint32_t slot);
    void settleUdp(std::uint32_t device);
    void endClient(std::uint32_t slot, bool stopping);
    void runTimers();
    void sweep();
    bool watch(int op, int fd, std::uint32_t events, std::uint64_t tag);

    const SimulatorConfig& config_;
    SimulatorLog& log_;
    SessionParts parts_;
    PortRange ports_;
    std::uint32_t address_ = 0;
    bool started_ = false;
    int epoll_ = -1;
    std::thread thread_;
    std::atomic<std::uint32_t> activeClients_{0};

    // The loop thread's own.
    std::vector<Device> devices_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> freeSlots_;
    // Slots of clients ended in this turn: free for new ones from the next,
    // so that an event still queued for the old client finds no new one.
    std::vector<std::uint32_t> releasedSlots_;
    std::vector<std::uint32_t> timedClients_;
    std::vector<std::uint32_t> timedUdp_;
    std::vector<std::uint32_t> scratch_;
    std::vector<std::uint32_t> pausedListeners_;
    PacedOutput::Clock::time_point pausedAt_{};
    PacedOutput::Clock::time_point nextSweep_{};
    std::vector<char> buffer_;
    base::Error acceptError_;
};

} // namespace devicetools
