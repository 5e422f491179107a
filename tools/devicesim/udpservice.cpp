#include "udpservice.h"

#include "nettext.h"
#include "peeraddress.h"
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

using Clock = PacedOutput::Clock;

constexpr std::string_view kUdp = "udp ";

std::uint32_t msUntil(Clock::time_point due, Clock::time_point now)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now);
    return static_cast<std::uint32_t>(std::max<std::int64_t>(left.count(), 0));
}

} // namespace

UdpService::UdpService(int socket, const PeerSession::Settings& settings, std::string peerSuffix)
    : socket_(socket), settings_(settings), peerSuffix_(std::move(peerSuffix))
{
}

void UdpService::run()
{
    std::vector<char> buffer(kDatagramCapacity);
    for (;;) {
        const base::Error wait = waitReady(socket_, net::SocketWait::Readable, settings_.stop,
                                           msUntilDue().value_or(kWaitForever));
        if (wait.fault() == base::Fault::Cancelled) {
            return;
        }
        if (wait.ok()) {
            receive(buffer.data());
        } else if (wait.fault() != base::Fault::TimedOut) {
            settings_.log.write({}, "udp: waiting failed: " + wait.text());
            return;
        }
        tick();
    }
}

void UdpService::receive(char* buffer)
{
    for (int read = 0; read < kReadsPerTurn && receiveOne(buffer); ++read) {
    }
}

bool UdpService::receiveOne(char* buffer)
{
    net::Endpoint from;
    ssize_t n;
    do {
        socklen_t length = sizeof from.storage;
        n = ::recvfrom(socket_, buffer, kDatagramCapacity, MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&from.storage), &length);
        from.length = length;
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return false;
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
        send(current, {}, 0);
        settings_.log.write(session.peerText(), "fault: empty datagram after " +
                                                    std::to_string(session.frames()) + " frames");
        session.resetCount();
    }
    return true;
}

std::optional<std::uint32_t> UdpService::msUntilDue() const
{
    const Clock::time_point now = Clock::now();
    std::optional<std::uint32_t> due;
    const auto earlier = [&due](std::uint32_t ms) { due = due ? std::min(*due, ms) : ms; };
    for (const auto& [key, peer] : peers_) {
        if (const auto session = peer.session->msUntilDue()) {
            earlier(*session);
        }
        if (peer.blockedSince) {
            earlier(kRetryMs);
        } else if (const auto next = peer.output.nextAt()) {
            earlier(msUntil(*next, now));
        }
    }
    return due;
}

void UdpService::tick()
{
    for (auto& [key, peer] : peers_) {
        flush(peer);
        peer.session->tick();
    }
}

UdpService::Peer& UdpService::peerFor(const net::Endpoint& from)
{
    auto found = peers_.find(from);
    if (found != peers_.end()) {
        return found->second;
    }
    if (peers_.size() >= kMaxPeers) {
        peers_.erase(
            std::min_element(peers_.begin(), peers_.end(), [](const auto& a, const auto& b) {
                return a.second.lastHeard < b.second.lastHeard;
            }));
    }
    Peer& peer = peers_[from];
    peer.address = from;
    peer.session = std::make_unique<PeerSession>(
        std::string(kUdp) + peerAddressText(from) + peerSuffix_, settings_,
        [this, &peer](std::string_view bytes, std::uint32_t pauseMs) {
            return send(peer, bytes, pauseMs);
        });
    return peer;
}

bool UdpService::send(Peer& peer, std::string_view bytes, std::uint32_t pauseMs)
{
    const Clock::time_point now = Clock::now();
    if (peer.output.empty() && pauseMs == 0) {
        const base::Error failure = sendNow(peer.address, bytes);
        if (failure.ok()) {
            return true;
        }
        if (failure.fault() != base::Fault::NoRoomNow) {
            logFailure(peer, bytes.size(), failure);
            return false;
        }
        peer.blockedSince = now;
    }
    if (!peer.output.push(bytes, pauseMs, now)) {
        logFailure(peer, bytes.size(), base::Error::system(ENOBUFS));
        return false;
    }
    return true;
}

void UdpService::flush(Peer& peer)
{
    Clock::time_point now = Clock::now();
    while (const auto bytes = peer.output.ready(now)) {
        const base::Error failure = sendNow(peer.address, *bytes);
        if (failure.fault() == base::Fault::NoRoomNow) {
            if (!peer.blockedSince) {
                peer.blockedSince = now;
            }
            if (now - *peer.blockedSince < std::chrono::milliseconds(kWriteTimeoutMs)) {
                return;
            }
            logFailure(peer, bytes->size(), base::Error::system(ETIMEDOUT));
        } else if (!failure.ok()) {
            logFailure(peer, bytes->size(), failure);
        }
        peer.blockedSince.reset();
        peer.output.dropFirst(now);
        now = Clock::now();
    }
}

base::Error UdpService::sendNow(const net::Endpoint& to, std::string_view bytes)
{
    ssize_t n;
    do {
        n = ::sendto(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT, to.address(),
                     to.length);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) {
        return {};
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return base::Error(base::Fault::NoRoomNow);
    }
    return base::Error::fromErrno();
}

void UdpService::logFailure(const Peer& peer, std::size_t size, const base::Error& error)
{
    settings_.log.write(peer.session->peerText(),
                        "sending " + std::to_string(size) + " bytes failed: " + error.text());
}

} // namespace devicetools
