#include "peerflood.h"

namespace
{

// How long one TCP send waits for room, so that stop() is never kept long.
constexpr std::chrono::milliseconds kSendWait{100};

} // namespace

PeerFlood::PeerFlood(Sender send, BlockMaker next, std::chrono::milliseconds limit,
                     std::size_t maxBlocks)
    : thread_([this, send = std::move(send), next = std::move(next), limit, maxBlocks] {
          run(send, next, limit, maxBlocks);
      })
{
}

PeerFlood::~PeerFlood()
{
    stop();
}

PeerFlood::Sender PeerFlood::overTcp(LoopbackTcpServer& peer)
{
    return [&peer](std::string_view bytes) { return peer.sendSome(bytes, kSendWait); };
}

PeerFlood::Sender PeerFlood::overUdp(LoopbackUdpPeer& peer)
{
    return [&peer](std::string_view bytes) -> std::ptrdiff_t {
        return peer.sendToSender(bytes) ? static_cast<std::ptrdiff_t>(bytes.size()) : -1;
    };
}

void PeerFlood::stop()
{
    stopping_.store(true);
    if (thread_.joinable())
        thread_.join();
}

void PeerFlood::run(const Sender& send, const BlockMaker& next, std::chrono::milliseconds limit,
                    std::size_t maxBlocks)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    std::string pending;
    while (!stopping_.load() && Clock::now() < deadline) {
        if (pending.empty()) {
            if (blocks_.load() >= maxBlocks)
                break;
            pending = next();
            blocks_.fetch_add(1);
        }
        const std::ptrdiff_t sent = send(pending);
        if (sent < 0) {
            failed_.store(true);
            break;
        }
        pending.erase(0, static_cast<std::size_t>(sent));
    }
    finished_.store(true);
}
