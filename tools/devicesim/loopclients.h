#pragma once

#include "fleetconnection.h"
#include "sessionparts.h"
#include "simulatorconfig.h"
#include "simulatorlog.h"

#include "socket/eventloop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>

namespace devicetools
{

// The TCP connections of a simulator on its event loop, accepted or dialed:
// each a FleetConnection, watched for what it wants, with one loop timer for
// what it has due next (flood frames, paused pieces, the idle and write
// time-outs) and, with events on, one for its next event frame. Nothing scans
// every connection: a wake-up touches only the connections it is about.
//
// An ended connection is logged with the line FleetConnection gives, then its
// end handler is told.
//
// Threads: the loop's thread only; the loop, configuration and parts must
// outlive it.
class LoopClients
{
public:
    using Clock = FleetConnection::Clock;

    struct Device {
        std::uint32_t number = 1; // from 1; names its cards
        std::string id;           // its frames' device id
    };
    using EndHandler = std::function<void()>;

    LoopClients(net::EventLoop& loop, const SimulatorConfig& config, SessionParts& parts);
    // Closes what is left without logging.
    ~LoopClients();
    LoopClients(const LoopClients&) = delete;
    LoopClients& operator=(const LoopClients&) = delete;

    // Serves the connected socket `fd` (made non-blocking here) as `device`,
    // reading what it holds at once (so the connection may have ended, and
    // its end handler been told, when this returns). False, with the socket
    // closed and the reason logged, when the loop refuses it; the end
    // handler is not told then.
    bool add(int fd, std::string peerText, const Device& device, EndHandler onEnd);
    // Ends every connection, each logged "closed: the simulator stops"; the
    // end handlers are not told.
    void stopAll();
    std::size_t size() const { return clients_.size(); }

private:
    using Id = std::uint64_t;
    struct Client {
        std::unique_ptr<FleetConnection> connection;
        Device device;
        EndHandler onEnd;
        std::uint32_t interest = 0;
        bool watched = false;
        net::EventLoop::TimerId due = 0;
        Clock::time_point dueAt{};
        net::EventLoop::TimerId event = 0;
        Clock::time_point eventAt{};
        std::uint64_t events = 0;
    };

    net::EventLoop::Handler handlerFor(Id id);
    void onReady(Id id, std::uint32_t ready);
    void onDue(Id id);
    void onEvent(Id id);
    // After anything happened to a client: ends it, or sets what the loop
    // waits for and when its timer fires.
    void settle(Id id);
    void end(Id id, bool stopping);

    net::EventLoop& loop_;
    const SimulatorConfig& config_;
    SessionParts& parts_;
    Clock::duration eventPeriod_{};
    std::unordered_map<Id, Client> clients_;
    Id nextId_ = 1;
    std::minstd_rand random_;
};

} // namespace devicetools
