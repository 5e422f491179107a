#include "callintake.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace devicetools
{

namespace
{

// Datagrams taken per turn, so that a flood cannot hold up the loop.
constexpr int kDatagramsPerTurn = 64;
constexpr std::size_t kBytesPerKiB = 1024;

} // namespace

CallIntake::CallIntake(net::EventLoop& loop, int fd, bool udp, bool byId,
                       net::EventLoop::Millis identifyTime, Handlers handlers)
    : loop_(loop), fd_(fd), udp_(udp), byId_(byId), identifyTime_(identifyTime),
      handlers_(std::move(handlers))
{
}

CallIntake::~CallIntake()
{
    for (const auto& [serial, pending] : pending_) {
        loop_.cancel(pending->timer);
        if (pending->watched) {
            loop_.unwatch(pending->caller.fd);
        }
        if (pending->caller.fd >= 0) {
            ::close(pending->caller.fd);
        }
    }
    listener_.reset();
    if (udp_ && fd_ >= 0) {
        loop_.unwatch(fd_);
        ::close(fd_);
    }
}

base::Result<int> CallIntake::open(const net::Endpoint& local, bool udp)
{
    if (!udp) {
        return net::StreamListener::open(local);
    }
    const int fd = ::socket(local.family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return base::Error::fromErrno(local.text());
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, local.address(), local.length) != 0) {
        base::Error error = base::Error::fromErrno(local.text());
        ::close(fd);
        return error;
    }
    return fd;
}

base::Error CallIntake::start()
{
    base::Error started;
    if (udp_) {
        started =
            loop_.watch(fd_, net::EventLoop::WantRead, [this](std::uint32_t) { datagrams(); });
    } else {
        listener_ = std::make_unique<net::StreamListener>(
            loop_, fd_, [this](int fd, const net::Endpoint& peer) { accepted(fd, peer); });
        started = listener_->start();
    }
    open_ = started.ok();
    return started;
}

void CallIntake::close()
{
    open_ = false;
    listener_.reset();
}

void CallIntake::forget(std::uint64_t serial)
{
    handedOver_.erase(serial);
}

void CallIntake::accepted(int fd, const net::Endpoint& peer)
{
    if (!open_ || (byId_ && pending_.size() >= kMaxPending)) {
        ::close(fd);
        return;
    }
    auto pending = std::make_unique<Pending>();
    pending->caller.serial = nextSerial_++;
    pending->caller.fd = fd;
    pending->caller.peer = peer;
    identify(std::move(pending));
}

void CallIntake::identify(std::unique_ptr<Pending> pending)
{
    const std::uint64_t serial = pending->caller.serial;
    const bool secure = tls_ && !udp_;
    const bool known = !secure && (!byId_ || pending->first.id());
    pending_.emplace(serial, std::move(pending));
    if (known) {
        handOver(serial);
        return;
    }
    Pending& waiting = *pending_.at(serial);
    if (secure) {
        waiting.caller.link = std::make_unique<SecureLink>(std::make_unique<tls::TlsSession>(tls_));
        waitingHandshakes_.push_back(serial);
    }
    waiting.timer = loop_.after(identifyTime_, [this, serial] {
        Pending& late = *pending_.at(serial);
        late.timer = 0;
        giveUp(serial,
               late.caller.link &&
                       late.caller.link->session().state() == tls::TlsSession::State::Handshaking
                   ? "did not finish the TLS handshake within " +
                         std::to_string(identifyTime_.count()) + " ms"
                   : "sent no frame within " + std::to_string(identifyTime_.count()) + " ms");
    });
    if (secure) {
        startHandshakes();
    } else if (!udp_) {
        waiting.watched = loop_
                              .watch(waiting.caller.fd, net::EventLoop::WantRead,
                                     [this, serial](std::uint32_t) { read(serial); })
                              .ok();
    }
}

void CallIntake::startHandshakes()
{
    while (handshakes_ < kMaxHandshakes && !waitingHandshakes_.empty()) {
        const std::uint64_t serial = waitingHandshakes_.front();
        waitingHandshakes_.pop_front();
        const auto found = pending_.find(serial);
        if (found == pending_.end()) {
            continue; // given up while it waited
        }
        Pending& pending = *found->second;
        pending.handshaking = true;
        ++handshakes_;
        // The server's flights are small: they fit the socket's buffer, so
        // reading is all the loop watches for.
        pending.watched = loop_
                              .watch(pending.caller.fd, net::EventLoop::WantRead,
                                     [this, serial](std::uint32_t) { read(serial); })
                              .ok();
    }
}

void CallIntake::read(std::uint64_t serial)
{
    Pending& pending = *pending_.at(serial);
    const ssize_t count =
        ::recv(pending.caller.fd, loop_.scratch(), net::EventLoop::kScratchBytes, 0);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (count <= 0) {
        giveUp(serial, pending.handshaking ? "closed the connection in the TLS handshake"
                                           : "closed the connection before sending a frame");
        return;
    }
    const std::string_view bytes(loop_.scratch(), static_cast<std::size_t>(count));
    if (!pending.caller.link) {
        firstBytes(serial, bytes);
        return;
    }
    SecureLink& link = *pending.caller.link;
    std::string plain = link.receive(bytes);
    if (const base::Error failed = link.flush(pending.caller.fd); !failed.ok()) {
        giveUp(serial, "connection lost in the TLS handshake: " + failed.text());
        return;
    }
    if (pending.handshaking) {
        handshaken(serial, std::move(plain));
    } else if (!plain.empty()) {
        firstBytes(serial, plain);
    }
}

void CallIntake::handshaken(std::uint64_t serial, std::string plain)
{
    Pending& pending = *pending_.at(serial);
    const tls::TlsSession& session = pending.caller.link->session();
    if (session.state() == tls::TlsSession::State::Handshaking) {
        return;
    }
    if (session.state() != tls::TlsSession::State::Open) {
        giveUp(serial, session.state() == tls::TlsSession::State::Failed
                           ? "TLS handshake failed: " + session.failure().reason()
                           : std::string("closed the TLS session in the handshake"));
        return;
    }
    pending.handshaking = false;
    --handshakes_;
    startHandshakes();
    if (!byId_) {
        pending.caller.early = std::move(plain);
        handOver(serial);
    } else if (!plain.empty()) {
        firstBytes(serial, plain);
    }
}

void CallIntake::firstBytes(std::uint64_t serial, std::string_view bytes)
{
    Pending& pending = *pending_.at(serial);
    pending.first.feed(bytes, false);
    if (pending.first.id()) {
        handOver(serial);
    } else if (pending.first.full()) {
        giveUp(serial, "sent no frame in its first " +
                           std::to_string(FirstFrame::kMaxBytes / kBytesPerKiB) + " KiB");
    }
}

void CallIntake::datagrams()
{
    for (int i = 0; i < kDatagramsPerTurn; ++i) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t count = ::recvfrom(fd_, loop_.scratch(), net::EventLoop::kScratchBytes, 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
        if (count < 0) {
            return; // nothing more now, or a peer's ICMP error: the next turn reads on
        }
        datagram(net::Endpoint::from(reinterpret_cast<const sockaddr*>(&from), length),
                 std::string_view(loop_.scratch(), static_cast<std::size_t>(count)));
    }
}

void CallIntake::datagram(const net::Endpoint& peer, std::string_view bytes)
{
    if (const auto seen = peers_.find(peer); seen != peers_.end()) {
        const std::uint64_t serial = seen->second;
        if (const auto waiting = pending_.find(serial); waiting != pending_.end()) {
            if (waiting->second->first.feed(bytes, true)) {
                handOver(serial);
            }
        } else if (handedOver_.contains(serial)) {
            handlers_.datagram(serial, bytes);
        }
        return;
    }
    if (!open_ || peers_.size() >= kMaxPeers || (byId_ && pending_.size() >= kMaxPending)) {
        return;
    }
    auto pending = std::make_unique<Pending>();
    pending->caller.serial = nextSerial_++;
    pending->caller.peer = peer;
    pending->first.feed(bytes, true);
    peers_.emplace(peer, pending->caller.serial);
    identify(std::move(pending));
}

std::unique_ptr<CallIntake::Pending> CallIntake::take(std::uint64_t serial)
{
    const auto found = pending_.find(serial);
    std::unique_ptr<Pending> pending = std::move(found->second);
    pending_.erase(found);
    loop_.cancel(pending->timer);
    if (pending->handshaking) {
        pending->handshaking = false;
        --handshakes_;
        startHandshakes();
    }
    if (pending->watched) {
        // Not read from now on until its owner starts it: its bytes wait in
        // the system.
        loop_.unwatch(pending->caller.fd);
    }
    return pending;
}

void CallIntake::handOver(std::uint64_t serial)
{
    std::unique_ptr<Pending> pending = take(serial);
    Caller caller = std::move(pending->caller);
    caller.id = pending->first.id().value_or(std::string());
    if (byId_ || udp_ || !caller.link) {
        caller.early = pending->first.bytes();
    }
    if (udp_) {
        handedOver_.insert(serial);
    }
    handlers_.arrived(std::move(caller));
}

void CallIntake::giveUp(std::uint64_t serial, std::string reason)
{
    std::unique_ptr<Pending> pending = take(serial);
    if (pending->caller.fd >= 0) {
        ::close(pending->caller.fd);
    }
    handlers_.unidentified(pending->caller.peer, std::move(reason));
}

} // namespace devicetools
