#include "devicesimulator.h"

#include "nettext.h"
#include "socketio.h"
#include "udpservice.h"

#include "protocol/recordsplitter.h"
#include "socket/hostlookup.h"
#include "socket/lasterror.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <vector>

namespace devicetools
{

namespace
{

constexpr std::string_view kTcp = "tcp ";

void closeQuietly(int fd)
{
    // Not retried on EINTR: on Linux the descriptor is gone either way.
    if (fd >= 0) {
        ::close(fd);
    }
}

} // namespace

DeviceSimulator::DeviceSimulator(const SimulatorConfig& config, SimulatorLog& log)
    : config_(config), log_(log), parts_(config, log)
{
}

DeviceSimulator::~DeviceSimulator()
{
    stop();
}

base::Error DeviceSimulator::start()
{
    if (started_) {
        return base::Error(base::Fault::BadInput, 0, "the simulator runs already");
    }
    if (!parts_.stop.valid()) {
        return base::Error::fromErrno("cannot make the stop pipe");
    }
    if (base::Error error = bindSockets(); !error.ok()) {
        return error;
    }
    started_ = true;
    try {
        acceptThread_ = std::thread([this] { acceptLoop(); });
        udpThread_ = std::thread([this] { UdpService(udp_, parts_.settings).run(); });
    } catch (const std::system_error& e) {
        stop();
        return base::Error::system(e.code().value(), "cannot start a thread");
    }
    return {};
}

base::Error DeviceSimulator::bindSockets()
{
    address_ = net::resolveHost(config_.listenHost.c_str());
    if (address_ == net::kAddressNone) {
        return base::Error(base::Fault::BadInput, 0,
                           "cannot resolve the address " + config_.listenHost);
    }
    // With port 0 the system picks the TCP port; the UDP socket then asks for
    // the same number, which another program may hold: try again a few times.
    const int attempts = config_.port == 0 ? kBindAttempts : 1;
    base::Error error;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        udp_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0 || udp_ < 0) {
            error = base::Error::fromErrno("cannot make a socket");
            break;
        }
        // A restarted simulator may bind while old connections linger.
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        net::SocketAddress local = makeEndpoint(address_, config_.port);
        socklen_t length = net::SocketAddress::kSize;
        if (::bind(listener_, local.asSockaddr(), net::SocketAddress::kSize) != 0 ||
            ::listen(listener_, kListenBacklog) != 0 ||
            ::getsockname(listener_, local.asSockaddr(), &length) != 0) {
            error = base::Error::fromErrno("cannot listen on TCP " + endpointText(local));
            break;
        }
        if (::bind(udp_, local.asSockaddr(), net::SocketAddress::kSize) == 0) {
            port_ = ntohs(local.port);
            return {};
        }
        error = base::Error::fromErrno("cannot bind UDP " + endpointText(local));
        closeQuietly(listener_);
        closeQuietly(udp_);
        listener_ = udp_ = -1;
    }
    closeQuietly(listener_);
    closeQuietly(udp_);
    listener_ = udp_ = -1;
    return error;
}

void DeviceSimulator::stop()
{
    parts_.stop.trigger();
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    if (udpThread_.joinable()) {
        udpThread_.join();
    }
    reapClients(Reap::All);
    closeQuietly(listener_);
    closeQuietly(udp_);
    listener_ = udp_ = -1;
}

void DeviceSimulator::reapClients(Reap which)
{
    for (auto it = clients_.begin(); it != clients_.end();) {
        const Client& client = **it;
        const bool reap = which == Reap::All ||
                          (which == Reap::Closed ? client.closed.load() : client.done.load());
        if (reap) {
            if ((*it)->thread.joinable()) {
                (*it)->thread.join();
            }
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

void DeviceSimulator::acceptLoop()
{
    for (;;) {
        const base::Error wait =
            waitReady(listener_, net::SocketWait::Readable, parts_.stop, kWaitForever);
        if (wait.fault() == base::Fault::Cancelled) {
            return;
        }
        if (!wait.ok()) {
            log_.write({}, "tcp: waiting for clients failed: " + wait.text());
            return;
        }
        net::SocketAddress peer;
        socklen_t length = net::SocketAddress::kSize;
        int fd;
        do {
            fd = ::accept4(listener_, peer.asSockaddr(), &length, SOCK_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            // A connection reset before it was taken is simply gone. Without
            // descriptors left the listener stays readable: pausing keeps
            // the loop from spinning until some are free again.
            if (errno != ECONNABORTED) {
                acceptFailed(base::Error::fromErrno());
                if (parts_.stop.waitFor(kAcceptRetryMs)) {
                    return;
                }
            }
            continue;
        }
        if (!acceptError_.ok()) {
            log_.write({}, "tcp: accepting clients again");
            acceptError_ = {};
        }
        const std::string peerText = std::string(kTcp) + endpointText(peer);
        reapClients(Reap::Done);
        if (clients_.size() >= config_.maxClients) {
            // A client whose connection is closed no longer holds its slot,
            // even while its thread still writes the closing line: a peer that
            // connects on seeing that line must not be refused.
            reapClients(Reap::Closed);
        }
        if (clients_.size() >= config_.maxClients) {
            log_.write(peerText,
                       "refused: all " + std::to_string(config_.maxClients) + " client slots busy");
            closeQuietly(fd);
            continue;
        }
        // Each answer goes out as soon as it is written, so that the pieces of
        // a split answer are not merged on the way.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto client = std::make_unique<Client>();
        Client& self = *client;
        try {
            self.thread = std::thread([this, fd, peer, &self] { serveClient(fd, peer, self); });
        } catch (const std::system_error& e) {
            log_.write(peerText, std::string("refused: cannot start a thread: ") + e.what());
            closeQuietly(fd);
            continue;
        }
        clients_.push_back(std::move(client));
    }
}

void DeviceSimulator::acceptFailed(const base::Error& error)
{
    if (error == acceptError_) {
        return;
    }
    acceptError_ = error;
    const bool noDescriptors = error.systemCode() == EMFILE || error.systemCode() == ENFILE;
    log_.write({}, "tcp: cannot accept a client: " + error.text() +
                       (noDescriptors ? "; clients wait until descriptors are free" : "") +
                       " (said once until accepting works again)");
}

void DeviceSimulator::serveClient(int fd, const net::SocketAddress& peer, Client& self)
{
    using Clock = std::chrono::steady_clock;
    const std::uint32_t active = ++activeClients_;
    const std::string peerText = std::string(kTcp) + endpointText(peer);
    log_.write(peerText, "connected (" + std::to_string(active) + " of at most " +
                             std::to_string(config_.maxClients) + ")");
    base::Error sendFailure;
    PeerSession session(
        peerText, parts_.settings, [&](std::string_view bytes, std::uint32_t pauseMs) {
            // A pause ends early when the simulator stops.
            if (pauseMs != 0 && parts_.stop.waitFor(pauseMs)) {
                return false;
            }
            sendFailure = sendBlock(fd, bytes, nullptr, parts_.stop, kWriteTimeoutMs);
            return sendFailure.ok();
        });
    protocol::RecordSplitter splitter;
    PeerSession::Outcome outcome = PeerSession::Outcome::Continue;
    const auto onRecord = [&](std::string_view record) {
        // Records after a close or a failure in the same read are dropped.
        if (outcome == PeerSession::Outcome::Continue) {
            outcome = session.handleRecord(record);
        }
    };
    const std::chrono::milliseconds idleLimit(config_.idleTimeoutMs);
    Clock::time_point lastHeard = Clock::now();
    std::vector<char> buffer(kReadSize);
    std::string ending = "closed by the peer";
    while (outcome == PeerSession::Outcome::Continue) {
        std::uint32_t waitMs = session.msUntilDue().value_or(kWaitForever);
        // A flood keeps a silent client served: it asked for the frames.
        const bool idleCounts = config_.idleTimeoutMs != 0 && !session.flooding();
        if (idleCounts) {
            const auto idleLeft =
                std::chrono::ceil<std::chrono::milliseconds>(lastHeard + idleLimit - Clock::now());
            if (idleLeft.count() <= 0) {
                ending = "closed: nothing received for " +
                         SimulatorLog::durationText(config_.idleTimeoutMs) + " (idle time-out)";
                break;
            }
            waitMs = std::min(waitMs, static_cast<std::uint32_t>(idleLeft.count()));
        }
        const base::Error wait = waitReady(fd, net::SocketWait::Readable, parts_.stop, waitMs);
        if (wait.fault() == base::Fault::Cancelled) {
            break;
        }
        if (!wait.ok() && wait.fault() != base::Fault::TimedOut) {
            ending = "closed: waiting failed: " + wait.text();
            break;
        }
        if (wait.ok()) {
            ssize_t n;
            do {
                n = ::recv(fd, buffer.data(), buffer.size(), 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0) {
                splitter.finish(onRecord);
                ending =
                    n == 0 ? "closed by the peer" : "closed: " + base::Error::fromErrno().text();
                break;
            }
            lastHeard = Clock::now();
            splitter.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)), onRecord);
        }
        if (outcome == PeerSession::Outcome::Continue) {
            outcome = session.tick();
        }
    }
    if (parts_.stop.triggered()) {
        ending = "closed: the simulator stops";
    } else if (outcome == PeerSession::Outcome::Close) {
        ending = "fault: closed after " + std::to_string(session.frames()) + " frames";
    } else if (outcome == PeerSession::Outcome::Failed) {
        ending = "closed: sending failed: " + (sendFailure.fault() == base::Fault::TimedOut
                                                   ? std::string("the peer takes no more bytes")
                                                   : sendFailure.text());
    }
    if (outcome == PeerSession::Outcome::Close) {
        closeGracefully(fd);
    } else {
        closeQuietly(fd);
    }
    self.closed.store(true);
    session.summariseLog();
    log_.write(peerText, ending);
    --activeClients_;
    self.done.store(true);
}

void DeviceSimulator::closeGracefully(int fd)
{
    // The end of the stream goes after every answer already written. Bytes the
    // peer sent that were never read would turn the close into a reset, which
    // can destroy the answers still on their way: they are read and dropped.
    ::shutdown(fd, SHUT_WR);
    std::vector<char> sink(kReadSize);
    for (int read = 0; read < kDrainReads; ++read) {
        const ssize_t n = ::recv(fd, sink.data(), sink.size(), MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EINTR)) {
            break;
        }
    }
    closeQuietly(fd);
}

} // namespace devicetools
