#pragma once

#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

// A peer that floods the console from a thread of its own: it sends the
// blocks `next` makes, one after the other, until stop(), a send fails,
// `limit` has passed or `maxBlocks` blocks went out, whichever comes first.
// While it runs, only its thread uses the peer it sends through.
class PeerFlood
{
public:
    using BlockMaker = std::function<std::string()>;
    // Sends what it can of the bytes: the count sent (0 when there was no room
    // within a short wait), or -1 when the connection failed.
    using Sender = std::function<std::ptrdiff_t(std::string_view)>;

    PeerFlood(Sender send, BlockMaker next, std::chrono::milliseconds limit, std::size_t maxBlocks);
    // Stops and joins the thread.
    ~PeerFlood();
    PeerFlood(const PeerFlood&) = delete;
    PeerFlood& operator=(const PeerFlood&) = delete;

    // Over a TCP peer's accepted connection; over a UDP peer, to the sender
    // of the last datagram it received.
    static Sender overTcp(LoopbackTcpServer& peer);
    static Sender overUdp(LoopbackUdpPeer& peer);

    // Asks the thread to end and waits for it (at most one send wait).
    void stop();
    bool finished() const { return finished_.load(); }
    bool sendFailed() const { return failed_.load(); }
    std::size_t blocksSent() const { return blocks_.load(); }

private:
    void run(const Sender& send, const BlockMaker& next, std::chrono::milliseconds limit,
             std::size_t maxBlocks);

    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> failed_{false};
    std::atomic<std::size_t> blocks_{0};
    std::thread thread_;
};
