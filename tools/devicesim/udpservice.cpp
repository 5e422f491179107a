#include "udpservice.h"

#include "nettext.h"
#include "socketio.h"

#include "protocol/recordsplitter.h"
#include "socket/lasterror.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace devicetools
{

namespace
{

constexpr std::string_view kUdp = "udp ";

// A key for a UDP peer: its address and port.
std::uint64_t peerKey(const net::SocketAddress& peer)
{
    return (std::uint64_t{peer.address} << 16) | peer.port;
}

} // namespace

UdpService::UdpService(int socket, const PeerSession::Settings& settings)
    : socket_(socket), settings_(settings)
{
}

void UdpService::run()
{
    std::vector<char> buffer(kDatagramCapacity);
    for (;;) {
        std::uint32_t waitMs = kWaitForever;
        for (const auto& [key, peer] : peers_) {
            if (const auto due = peer.session->msUntilDue()) {
                waitMs = std::min(waitMs, *due);
            }
        }
        const net::WaitStatus ready =
            waitReady(socket_, net::SocketWait::Readable, settings_.stop, waitMs);
        if (ready == net::WaitStatus::Cancelled) {
            return;
        }
        if (ready == net::WaitStatus::Failed) {
            settings_.log.write({}, "udp: waiting failed: " +
                                        errorText(static_cast<int>(net::lastError())));
            return;
        }
        if (ready == net::WaitStatus::Ready) {
            receive(buffer.data());
        }
        for (auto& [key, peer] : peers_) {
            peer.session->tick();
        }
    }
}

void UdpService::receive(char* buffer)
{
    net::SocketAddress from;
    socklen_t length = net::SocketAddress::kSize;
    ssize_t n;
    do {
        n = ::recvfrom(socket_, buffer, kDatagramCapacity, MSG_DONTWAIT, from.asSockaddr(),
                       &length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return;
    }
    Peer& current = peerFor(from);
    current.lastHeard = ++turn_;
    PeerSession& session = *current.session;
    if (n == 0) {
        settings_.log.write(session.peerText(), "empty datagram");
    }
    // Each datagram is complete in itself: what follows its last line end is
    // a record too.
    protocol::RecordSplitter splitter;
    PeerSession::Outcome outcome = PeerSession::Outcome::Continue;
    const auto onRecord = [&](std::string_view record) {
        if (outcome == PeerSession::Outcome::Continue) {
            outcome = session.handleRecord(record);
        }
    };
    splitter.feed(std::string_view(buffer, static_cast<std::size_t>(n)), onRecord);
    splitter.finish(onRecord);
    if (outcome == PeerSession::Outcome::Close) {
        // A connected UDP client reads an empty datagram as the end of the
        // exchange, as a TCP client reads a close.
        sendTo(current.address, {});
        settings_.log.write(session.peerText(), "fault: empty datagram after " +
                                                    std::to_string(session.frames()) + " frames");
        session.resetCount();
    }
}

UdpService::Peer& UdpService::peerFor(const net::SocketAddress& from)
{
    auto found = peers_.find(peerKey(from));
    if (found != peers_.end()) {
        return found->second;
    }
    if (peers_.size() >= kMaxPeers) {
        peers_.erase(
            std::min_element(peers_.begin(), peers_.end(), [](const auto& a, const auto& b) {
                return a.second.lastHeard < b.second.lastHeard;
            }));
    }
    auto session = std::make_unique<PeerSession>(
        std::string(kUdp) + endpointText(from), settings_,
        [this, from](std::string_view bytes) { return sendTo(from, bytes); });
    return peers_.emplace(peerKey(from), Peer{from, std::move(session), 0}).first->second;
}

bool UdpService::sendTo(const net::SocketAddress& to, std::string_view bytes)
{
    const int failure = sendBlock(socket_, bytes, &to, settings_.stop, kWriteTimeoutMs);
    // A stop is no failure of the send worth a line.
    if (failure != 0 && failure != ECANCELED) {
        settings_.log.write(std::string(kUdp) + endpointText(to),
                            "sending " + std::to_string(bytes.size()) +
                                " bytes failed: " + errorText(failure));
    }
    return failure == 0;
}

} // namespace devicetools
