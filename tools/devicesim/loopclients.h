#pragma once

#include "fleetconnection.h"
#include "sessionparts.h"
#include "simulatorconfig.h"
#include "simulatorlog.h"

#include "socket/eventloop.h"

#include <cstddef>
#include <cstdint>
#include <deque>
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
// With TLS (useTls()), every connection does its handshake first, logged
// "TLS ready: TLSv1.3, <cipher>, <peer> certificate SHA256:..." once the
// connection's secure handler (if any) accepts the peer. At most
// kMaxHandshakes handshakes run at once, so that a flood of connections that
// handshake (or never do) cannot starve the connections already served: the
// others wait, unread, until one ends.
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
    using SecureHandler = FleetConnection::SecureHandler;
    static constexpr std::size_t kMaxHandshakes = 64;

    LoopClients(net::EventLoop& loop, const SimulatorConfig& config, SessionParts& parts);
    // Closes what is left without logging.
    ~LoopClients();
    LoopClients(const LoopClients&) = delete;
    LoopClients& operator=(const LoopClients&) = delete;

    // Speaks TLS on every connection added from now on: `context` a server's
    // or a client's; `peerName` what a client checks the peer's certificate
    // against. `peerRole` names the peer in the log ("client", "host").
    void useTls(std::shared_ptr<tls::TlsContext> context, std::string peerName,
                std::string peerRole);

    // Serves the connected socket `fd` (made non-blocking here) as `device`,
    // reading what it holds at once (so the connection may have ended, and
    // its end handler been told, when this returns). False, with the socket
    // closed and the reason logged, when the loop refuses it; the end
    // handler is not told then. With TLS, `onSecure` decides on the peer
    // once the handshake is done (none: any peer); a connection beyond
    // kMaxHandshakes waits (true is returned).
    bool add(int fd, std::string peerText, const Device& device, EndHandler onEnd,
             SecureHandler onSecure = {});
    // Ends every connection, each logged "closed: the simulator stops"; the
    // end handlers are not told. Connections waiting for a handshake are
    // closed unlogged.
    void stopAll();
    std::size_t size() const { return clients_.size(); }
    // TLS handshakes under way, and connections waiting to start one.
    std::size_t handshakes() const { return handshakes_; }
    std::size_t waitingForHandshake() const { return waiting_.size(); }

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
        bool handshaking = false;
    };
    struct Waiting {
        int fd;
        std::string peerText;
        Device device;
        EndHandler onEnd;
        SecureHandler onSecure;
    };

    bool serve(Waiting waiting);
    FleetConnection::Tls tlsFor(const std::string& peerText, SecureHandler onSecure);
    // A handshake ended (well or not): the next waiting connection may start.
    void handshakeEnded();
    void admit();

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
    std::shared_ptr<tls::TlsContext> tls_;
    std::string tlsPeerName_;
    std::string tlsPeerRole_;
    std::size_t handshakes_ = 0;
    std::deque<Waiting> waiting_;
    net::EventLoop::TimerId admitTimer_ = 0;
};

} // namespace devicetools
