#include "loopclients.h"

#include "deviceevents.h"

#include "bytetext.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace devicetools
{

namespace
{

using Loop = net::EventLoop;

void makeNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
    // Each answer goes out as soon as it is written, so that the pieces of a
    // split answer are not merged on the way.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

LoopClients::LoopClients(net::EventLoop& loop, const SimulatorConfig& config, SessionParts& parts)
    : loop_(loop), config_(config), parts_(parts), random_(std::random_device{}())
{
    if (config.eventsPerSecond > 0) {
        eventPeriod_ = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / config.eventsPerSecond));
    }
}

LoopClients::~LoopClients()
{
    loop_.cancel(admitTimer_);
    for (const Waiting& waiting : waiting_) {
        ::close(waiting.fd);
    }
    for (auto& [id, client] : clients_) {
        loop_.unwatch(client.connection->fd());
        loop_.cancel(client.due);
        loop_.cancel(client.event);
    }
}

void LoopClients::useTls(std::shared_ptr<tls::TlsContext> context, std::string peerName,
                         std::string peerRole)
{
    tls_ = std::move(context);
    tlsPeerName_ = std::move(peerName);
    tlsPeerRole_ = std::move(peerRole);
}

bool LoopClients::add(int fd, std::string peerText, const Device& device, EndHandler onEnd,
                      SecureHandler onSecure)
{
    makeNonBlocking(fd);
    Waiting waiting{fd, std::move(peerText), device, std::move(onEnd), std::move(onSecure)};
    if (tls_ && handshakes_ >= kMaxHandshakes) {
        waiting_.push_back(std::move(waiting));
        return true;
    }
    return serve(std::move(waiting));
}

FleetConnection::Tls LoopClients::tlsFor(const std::string& peerText, SecureHandler onSecure)
{
    FleetConnection::Tls tls;
    if (!tls_) {
        return tls;
    }
    tls.link = std::make_unique<TlsLink>(tls_, tlsPeerName_);
    tls.handshakeLimitMs = config_.handshakeTimeoutMs;
    tls.onSecure = [this, peerText,
                    onSecure = std::move(onSecure)](const tls::TlsSession& session) -> base::Error {
        if (onSecure) {
            if (base::Error refusal = onSecure(session); !refusal.ok()) {
                return refusal;
            }
        }
        const tls::PeerCheck& peer = session.peer();
        parts_.settings.log.write(
            peerText, "TLS ready: " + session.version() + ", " + session.cipher() + ", " +
                          tlsPeerRole_ + " certificate " +
                          (peer.presented ? peer.certificate.fingerprint : std::string("none")));
        return {};
    };
    return tls;
}

bool LoopClients::serve(Waiting waiting)
{
    const int fd = waiting.fd;
    std::string peerText = std::move(waiting.peerText);
    const Id id = nextId_++;
    if (const base::Error error = loop_.watch(fd, Loop::WantRead, handlerFor(id)); !error.ok()) {
        parts_.settings.log.write(peerText,
                                  "refused: cannot watch the connection: " + error.text());
        ::close(fd);
        return false;
    }
    Client& client = clients_[id];
    FleetConnection::Tls tls = tlsFor(peerText, std::move(waiting.onSecure));
    client.handshaking = tls.link != nullptr;
    handshakes_ += client.handshaking ? 1 : 0;
    client.connection = std::make_unique<FleetConnection>(fd, std::move(peerText), parts_.settings,
                                                          config_.idleTimeoutMs, std::move(tls));
    client.device = waiting.device;
    client.onEnd = std::move(waiting.onEnd);
    client.interest = Loop::WantRead;
    client.watched = true;
    if (eventPeriod_.count() > 0) {
        // The first event comes at a random point of the first period, so
        // that devices connected together do not send in step.
        std::uniform_int_distribution<Clock::rep> phase(0, eventPeriod_.count());
        client.eventAt = Clock::now() + Clock::duration(phase(random_));
        client.event = loop_.at(client.eventAt, [this, id] { onEvent(id); });
    }
    // Read at once: a peer that has sent and closed already is done with
    // before the next connection is taken, which keeps descriptors free.
    onReady(id, Loop::Readable);
    return true;
}

net::EventLoop::Handler LoopClients::handlerFor(Id id)
{
    return [this, id](std::uint32_t ready) { onReady(id, ready); };
}

void LoopClients::onReady(Id id, std::uint32_t ready)
{
    const auto found = clients_.find(id);
    if (found == clients_.end()) {
        return;
    }
    FleetConnection& connection = *found->second.connection;
    if ((ready & (Loop::Readable | Loop::HangUp | Loop::Failed)) != 0) {
        connection.readable(loop_.scratch(), Loop::kScratchBytes);
    }
    if ((ready & Loop::Writable) != 0) {
        connection.writable();
    }
    // Only a failure ends the connection here: a peer that merely shut its
    // side down still gets the answers to what it sent.
    if ((ready & Loop::Failed) != 0) {
        connection.hangUp();
    }
    settle(id);
}

void LoopClients::onDue(Id id)
{
    const auto found = clients_.find(id);
    if (found == clients_.end()) {
        return;
    }
    found->second.due = 0;
    found->second.connection->onTimer(Clock::now());
    settle(id);
}

void LoopClients::onEvent(Id id)
{
    const auto found = clients_.find(id);
    if (found == clients_.end()) {
        return;
    }
    Client& client = found->second;
    const std::string card = DeviceEvents::cardNumber(client.device.number, ++client.events);
    const std::string block = DeviceEvents::eventBlock(client.device.id, card, config_.eventMode);
    if (config_.verbose) {
        parts_.settings.log.write(client.connection->peerText(),
                                  "event sent, " + std::to_string(block.size()) + " bytes: \"" +
                                      escapedAscii(block, true) + '"');
    }
    client.connection->sendUnprompted(block);
    // The next one keeps to the schedule, however late this one ran; a loop
    // far behind skips the events it missed rather than sending a burst.
    client.eventAt = std::max(client.eventAt + eventPeriod_, Clock::now());
    client.event = loop_.at(client.eventAt, [this, id] { onEvent(id); });
    settle(id);
}

void LoopClients::settle(Id id)
{
    Client& client = clients_.at(id);
    FleetConnection& connection = *client.connection;
    if (client.handshaking && !connection.handshaking()) {
        client.handshaking = false;
        handshakeEnded();
    }
    if (connection.ended()) {
        end(id, false);
        return;
    }
    const std::uint32_t interest = (connection.wantsRead() ? Loop::WantRead : 0U) |
                                   (connection.wantsWrite() ? Loop::WantWrite : 0U);
    // A connection that reads no more and has room to write waits for its
    // timers alone: watched, a peer's hang-up would wake the loop at every
    // turn until the last paused piece has gone.
    if (interest == 0 && client.watched) {
        loop_.unwatch(connection.fd());
        client.watched = false;
    } else if (interest != 0 && !client.watched) {
        client.watched = loop_.watch(connection.fd(), interest, handlerFor(id)).ok();
    } else if (interest != client.interest) {
        (void)loop_.setInterest(connection.fd(), interest);
    }
    client.interest = interest;
    // A timer that fires too early finds nothing to do and is set again, so
    // only an earlier time replaces it: reads that move the idle time-out on
    // leave the timer alone.
    const std::optional<Clock::time_point> due = connection.nextDue(Clock::now());
    if (due && (client.due == 0 || *due < client.dueAt)) {
        loop_.cancel(client.due);
        client.dueAt = *due;
        client.due = loop_.at(*due, [this, id] { onDue(id); });
    }
}

void LoopClients::end(Id id, bool stopping)
{
    const auto found = clients_.find(id);
    Client& client = found->second;
    if (client.handshaking) {
        client.handshaking = false;
        handshakeEnded();
    }
    loop_.unwatch(client.connection->fd());
    loop_.cancel(client.due);
    loop_.cancel(client.event);
    const std::string ending = client.connection->finish(stopping);
    parts_.settings.log.write(client.connection->peerText(), ending);
    EndHandler onEnd = std::move(client.onEnd);
    clients_.erase(found);
    if (!stopping && onEnd) {
        onEnd();
    }
}

void LoopClients::handshakeEnded()
{
    --handshakes_;
    // Started from a timer of its own: this runs in the middle of another
    // client's handling, which a new client must not disturb.
    if (!waiting_.empty() && admitTimer_ == 0) {
        admitTimer_ = loop_.at(Clock::now(), [this] {
            admitTimer_ = 0;
            admit();
        });
    }
}

void LoopClients::admit()
{
    while (handshakes_ < kMaxHandshakes && !waiting_.empty()) {
        Waiting next = std::move(waiting_.front());
        waiting_.pop_front();
        EndHandler onEnd = next.onEnd;
        if (!serve(std::move(next)) && onEnd) {
            onEnd();
        }
    }
}

void LoopClients::stopAll()
{
    loop_.cancel(admitTimer_);
    admitTimer_ = 0;
    for (const Waiting& waiting : waiting_) {
        ::close(waiting.fd);
    }
    waiting_.clear();
    while (!clients_.empty()) {
        end(clients_.begin()->first, true);
    }
}

} // namespace devicetools
