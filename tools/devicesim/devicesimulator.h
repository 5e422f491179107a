#pragma once

#include "peersession.h"
#include "responder.h"
#include "sessionparts.h"
#include "simulatorconfig.h"
#include "simulatorlog.h"
#include "stopsignal.h"

#include "base/error.h"
#include "socket/socketaddress.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <thread>

namespace devicetools
{

// A device for the console to talk to: listens on TCP and UDP at the same
// address and port, recognises command frames in both delimiter modes, logs
// every record and answers as its configuration says (see PeerSession,
// Responder, FaultModes).
//
// A TCP client that sends nothing for the configured idle time is closed, a
// client beyond maxClients is refused, and each with a log line saying why;
// running out of descriptors is logged once until accepting works again.
//
// Threads: start() and stop() from one owner thread. start() runs an accept
// thread, a UDP thread (UdpService) and then one thread per TCP client (at
// most maxClients); each waits on its socket and the stop signal together, so
// stop() ends them all at once, also in the middle of a pause or a flood, and
// joins them. The configuration and log must outlive the simulator.
class DeviceSimulator
{
public:
    // A peer that takes no bytes for this long is given up.
    static constexpr std::uint32_t kWriteTimeoutMs = 2000;
    // With port 0: how often to look for a port that is free for both TCP and UDP.
    static constexpr int kBindAttempts = 8;
    static constexpr int kListenBacklog = 16;
    // Pause after a failed accept (no descriptors left, for instance).
    static constexpr std::uint32_t kAcceptRetryMs = 100;
    static constexpr std::size_t kReadSize = 4096;
    // Reads of unread bytes before a fault close, at most (a peer that keeps
    // sending must not hold the close up).
    static constexpr int kDrainReads = 64;

    DeviceSimulator(const SimulatorConfig& config, SimulatorLog& log);
    // Stops the simulator.
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    // Binds both sockets and starts serving. The failure, with nothing left
    // open, when the address does not resolve, a socket cannot be
    // bound, or the simulator was started before.
    base::Error start();
    // Ends every thread and closes every socket; may be called any number of times.
    void stop();

    // The port both sockets are bound to (after start()).
    std::uint16_t port() const { return port_; }
    // The address listened on, host order (after start()).
    std::uint32_t address() const { return address_; }
    // TCP clients being served right now.
    std::uint32_t activeClients() const { return activeClients_.load(); }

private:
    struct Client {
        std::thread thread;
        // Set once its connection is closed: the slot is free from then on,
        // though the thread may still be writing the closing line.
        std::atomic<bool> closed{false};
        std::atomic<bool> done{false};
    };
    // Which clients reapClients() joins and forgets.
    enum class Reap {
        Done,   // their threads have ended
        Closed, // their connections are closed (joining waits for the last line)
        All,    // every one (after the stop signal)
    };

    base::Error bindSockets();
    void acceptLoop();
    void serveClient(int fd, const net::SocketAddress& peer, Client& self);
    void closeGracefully(int fd);
    void reapClients(Reap which);
    // Logs a failed accept once until an accept works again.
    void acceptFailed(const base::Error& error);

    const SimulatorConfig& config_;
    SimulatorLog& log_;
    SessionParts parts_;
    int listener_ = -1;
    int udp_ = -1;
    std::uint16_t port_ = 0;
    std::uint32_t address_ = 0;
    bool started_ = false;
    std::thread acceptThread_;
    std::thread udpThread_;
    // Touched by the accept thread only, and by stop() once it has joined it.
    std::list<std::unique_ptr<Client>> clients_;
    std::atomic<std::uint32_t> activeClients_{0};
    // The accept thread's: the failed accept already logged, or none.
    base::Error acceptError_;
};

} // namespace devicetools
