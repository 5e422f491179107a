#pragma once

#include "peersession.h"
#include "simulatorlog.h"
#include "stopsignal.h"

#include "socket/socketaddress.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

namespace devicetools
{

// The simulator's UDP side: reads datagrams from its bound socket, keeps a
// PeerSession for each sender (at most kMaxPeers, the longest silent goes
// first), answers through it and runs its floods, until the stop signal.
// Every failed send is logged with its reason.
//
// Threads: run() on one thread (the simulator's UDP thread); the socket,
// settings, log and stop signal must outlive it.
class UdpService
{
public:
    static constexpr std::size_t kDatagramCapacity = 65536;
    static constexpr std::size_t kMaxPeers = 64;
    // A send that finds no room for this long is given up.
    static constexpr std::uint32_t kWriteTimeoutMs = 2000;

    UdpService(int socket, const PeerSession::Settings& settings);

    // Serves until the stop signal of the settings triggers or waiting fails.
    void run();

private:
    struct Peer {
        net::SocketAddress address;
        std::unique_ptr<PeerSession> session;
        std::uint64_t lastHeard = 0;
    };

    void receive(char* buffer);
    Peer& peerFor(const net::SocketAddress& from);
    bool sendTo(const net::SocketAddress& to, std::string_view bytes);

    int socket_;
    const PeerSession::Settings& settings_;
    std::map<std::uint64_t, Peer> peers_;
    std::uint64_t turn_ = 0;
};

} // namespace devicetools
