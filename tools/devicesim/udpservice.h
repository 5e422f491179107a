#pragma once

#include "pacedoutput.h"
#include "peersession.h"
#include "simulatorlog.h"
#include "stopsignal.h"

#include "base/error.h"
#include "socket/endpoint.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace devicetools
{

// The simulator's UDP side on one bound socket: reads datagrams, keeps a
// PeerSession for each sender (at most kMaxPeers, the longest silent goes
// first), answers through it and runs its floods. Nothing here blocks: the
// pieces of a split answer wait in the peer's PacedOutput for their pause,
// and a datagram that finds no room is tried again until kWriteTimeoutMs
// has passed. Every failed send is logged with its reason.
//
// Either run() serves the socket until the stop signal, or an event loop
// calls receive() when the socket is readable and tick() once msUntilDue()
// has passed. One thread uses a service; the socket, settings, log and stop
// signal must outlive it.
class UdpService
{
public:
    static constexpr std::size_t kDatagramCapacity = 65536;
    static constexpr std::size_t kMaxPeers = 64;
    // A datagram that finds no room for this long is given up.
    static constexpr std::uint32_t kWriteTimeoutMs = 2000;
    // How often a datagram that found no room is tried again.
    static constexpr std::uint32_t kRetryMs = 10;
    // Datagrams read by one receive(), so that a busy socket leaves the
    // others of an event loop their turn.
    static constexpr int kReadsPerTurn = 64;
    // Bytes a peer's answers may hold waiting for their pause.
    static constexpr std::size_t kQueuedBytes = 256 * 1024;

    // `peerSuffix` follows the peer in its log lines (which device it sent
    // to, when one process serves many).
    UdpService(int socket, const PeerSession::Settings& settings, std::string peerSuffix = {});

    // Serves until the stop signal of the settings triggers or waiting fails.
    void run();

    // Reads the datagrams waiting (at most kReadsPerTurn) into `buffer`, of
    // kDatagramCapacity bytes, and answers them.
    void receive(char* buffer);
    // Milliseconds until tick() has something to do (0: now), or nothing.
    std::optional<std::uint32_t> msUntilDue() const;
    // Sends what is due: answers after their pause, flood frames, log summaries.
    void tick();

private:
    struct Peer {
        net::Endpoint address;
        std::unique_ptr<PeerSession> session;
        PacedOutput output{kQueuedBytes};
        std::uint64_t lastHeard = 0;
        // When the first queued datagram first found no room.
        std::optional<PacedOutput::Clock::time_point> blockedSince;
    };

    bool receiveOne(char* buffer);
    Peer& peerFor(const net::Endpoint& from);
    bool send(Peer& peer, std::string_view bytes, std::uint32_t pauseMs);
    void flush(Peer& peer);
    // Sends one datagram now: no failure when it went, NoRoomNow when the
    // socket would block, else the failure.
    base::Error sendNow(const net::Endpoint& to, std::string_view bytes);
    void logFailure(const Peer& peer, std::size_t size, const base::Error& error);

    int socket_;
    const PeerSession::Settings& settings_;
    std::string peerSuffix_;
    std::unordered_map<net::Endpoint, Peer, net::EndpointHash> peers_;
    std::uint64_t turn_ = 0;
};

} // namespace devicetools
