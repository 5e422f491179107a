#include "hostcore.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace host
{

namespace
{

constexpr int kDatagramsPerTurn = 64;
constexpr std::size_t kRefusedUdpKept = 1024;

std::string secondsText(std::chrono::milliseconds ms)
{
    return std::to_string(ms.count() / 1000) + " s";
}

} // namespace

HostCore::HostCore(net::EventLoop& loop, HostSettings settings, DeviceHost::Handover handover,
                   DeviceHost::Notes notes)
    : loop_(loop), settings_(settings), handover_(std::move(handover)), notes_(std::move(notes))
{
    publishTimer_ = loop_.after(settings_.publishEvery, [this] { publish(); });
}

HostCore::~HostCore()
{
    shutdown();
}

base::Result<net::Endpoint> HostCore::listen(DeviceHost::Protocols protocols,
                                             const net::Endpoint& local)
{
    // The listeners before are closed first, so that listening again on the
    // same port works.
    stopListening();
    net::Endpoint tcpLocal;
    if (protocols & DeviceHost::Tcp) {
        base::Result<int> fd = net::StreamListener::open(local);
        if (!fd)
            return fd.error();
        auto listener = std::make_unique<net::StreamListener>(
            loop_, *fd,
            [this](int accepted, const net::Endpoint& peer) { this->accepted(accepted, peer); },
            [this](const base::Error& error) {
                note("accepting devices failed: " + error.text());
            });
        if (const base::Error started = listener->start(); !started.ok())
            return started;
        tcpLocal = listener->local();
        tcp_ = std::move(listener);
    }
    if (protocols & DeviceHost::Udp) {
        net::Endpoint where = local;
        if (!tcpLocal.empty())
            where = tcpLocal;
        const int fd = ::socket(where.family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            const base::Error error = base::Error::fromErrno("UDP socket");
            stopListening();
            return error;
        }
        // No SO_REUSEADDR: on UDP it would let two programs share the port
        // (and its datagrams) instead of refusing the second.
        if (::bind(fd, where.address(), where.length) != 0) {
            const base::Error error = base::Error::fromErrno(where.text());
            ::close(fd);
            stopListening();
            return error;
        }
        if (const base::Error watched =
                loop_.watch(fd, net::EventLoop::WantRead, [this](std::uint32_t) { udpReadable(); });
            !watched.ok()) {
            ::close(fd);
            stopListening();
            return watched;
        }
        udp_ = fd;
        udpLocal_ = net::Endpoint::localOf(fd);
    }
    changed();
    return tcpLocal.empty() ? udpLocal_ : tcpLocal;
}

void HostCore::stopListening()
{
    tcp_.reset();
    if (udp_ >= 0) {
        // UDP devices are heard on the listening socket only: they end with it.
        std::vector<std::uint64_t> udpIds;
        for (const auto& [peer, id] : udpPeers_)
            udpIds.push_back(id);
        for (const std::uint64_t id : udpIds)
            endDevice(id, DeviceState::ClosedHere, {});
        loop_.unwatch(udp_);
        ::close(udp_);
        udp_ = -1;
        udpLocal_ = {};
    }
    changed();
}

HostCore::Device& HostCore::addDevice(Transport transport, const net::Endpoint& peer,
                                      DeviceState state)
{
    auto device = std::make_unique<Device>(settings_.mode);
    device->row.id = nextId_++;
    device->row.transport = transport;
    device->row.peer = peer;
    device->row.since = std::chrono::system_clock::now();
    device->row.state = state;
    if (!answerRules_.empty())
        device->intake.setAnswers(answerRules_, answersPerSecond_);
    Device& kept = *device;
    devices_.emplace(kept.row.id, std::move(device));
    changed();
    return kept;
}

void HostCore::refuse(Transport transport, const net::Endpoint& peer)
{
    ++refused_;
    changed();
    note(transportText(transport) + " device " + peer.text() +
         " refused: " + std::to_string(settings_.maxDevices) + " devices connected already");
}

void HostCore::accepted(int fd, const net::Endpoint& peer)
{
    if (connectedCount() >= settings_.maxDevices) {
        ::close(fd);
        refuse(Transport::Tcp, peer);
        return;
    }
    if (wantDevice_ && handover_) {
        wantDevice_ = false;
        Device& device = addDevice(Transport::Tcp, peer, DeviceState::WithConsole);
        handover_(DeviceHost::Offer{device.row.id, fd, peer, Transport::Tcp});
        return;
    }
    Device& device = addDevice(Transport::Tcp, peer, DeviceState::Connected);
    startRecords(device);
    serve(device, fd);
}

void HostCore::serve(Device& device, int fd)
{
    device.stream = std::make_unique<net::LoopStream>(loop_, fd, settings_.streamLimits);
    device.row.state = DeviceState::Connected;
    const std::uint64_t id = device.row.id;
    const base::Error started =
        device.stream->start([this, id](std::string_view bytes) { streamRead(id, bytes); },
                             [this, id](const base::Error& why) {
                                 if (why.fault() == base::Fault::PeerClosed)
                                     endDevice(id, DeviceState::ClosedByDevice, {});
                                 else
                                     endDevice(id, DeviceState::Dropped, why.text());
                             });
    if (!started.ok())
        endDevice(id, DeviceState::Dropped, started.text());
    changed();
}

void HostCore::streamRead(std::uint64_t id, std::string_view bytes)
{
    const auto found = devices_.find(id);
    if (found == devices_.end() || !found->second->stream)
        return;
    Device& device = *found->second;
    if (device.records)
        device.records->read(bytes);
    for (const std::string& answer :
         device.intake.received(bytes, check::Chunk::Stream, loop_.now()))
        sendTo(device, answer);
    if (device.stream) {
        device.row.bytesIn = device.stream->bytesIn();
        device.row.bytesOut = device.stream->bytesOut();
    }
    device.row.lastFrame = device.intake.lastFrame();
    changed();
}

void HostCore::endDevice(std::uint64_t id, DeviceState state, std::string why)
{
    const auto found = devices_.find(id);
    if (found == devices_.end())
        return;
    std::unique_ptr<Device> device = std::move(found->second);
    devices_.erase(found);
    if (device->stream) {
        device->row.bytesIn = device->stream->bytesIn();
        device->row.bytesOut = device->stream->bytesOut();
        // The stream may be the one whose handler runs now: it is closed
        // (without telling) and destroyed after the handler, by the loop's
        // rule that nothing of it is used once the handler returns.
        device->stream->close();
    }
    if (device->row.transport == Transport::Udp) {
        udpPeers_.erase(device->row.peer);
        loop_.cancel(device->idleTimer);
        closeRelay(*device);
    }
    device->row.state = state;
    device->row.why = std::move(why);
    if (device->records) {
        device->records->ended(state, device->row.why);
        handOutRecords(*device);
    }
    ended_.push_back(std::move(device->row));
    while (ended_.size() > settings_.maxEndedRows)
        ended_.pop_front();
    changed();
}

bool HostCore::takeDevice(std::uint64_t id)
{
    const auto found = devices_.find(id);
    if (found == devices_.end() || !handover_ || found->second->row.state != DeviceState::Connected)
        return false;
    Device& device = *found->second;
    if (device.row.transport == Transport::Udp) {
        wantDevice_ = false;
        return handOverUdp(device);
    }
    if (!device.stream)
        return false;
    // The socket goes on under a descriptor of its own; closing the stream's
    // then neither shuts it down nor loses a byte the device has sent.
    const int fd = ::fcntl(device.stream->fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        note("device " + device.row.peer.text() +
             " could not be handed over: " + base::Error::fromErrno().text());
        return false;
    }
    device.row.bytesIn = device.stream->bytesIn();
    device.row.bytesOut = device.stream->bytesOut();
    device.stream->close();
    device.stream.reset();
    device.row.state = DeviceState::WithConsole;
    handOutRecords(device, "Handed to the console");
    changed();
    wantDevice_ = false;
    handover_(DeviceHost::Offer{id, fd, device.row.peer, Transport::Tcp});
    return true;
}

bool HostCore::handOverUdp(Device& device)
{
    // A UDP device has no socket of its own: the console's channel gets one
    // end of a packet pair, each message one datagram, and the host relays
    // between it and the device's address on the listening socket.
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        note("device " + device.row.peer.text() +
             " could not be handed over: " + base::Error::fromErrno().text());
        return false;
    }
    const std::uint64_t id = device.row.id;
    if (const base::Error watched = loop_.watch(pair[0], net::EventLoop::WantRead,
                                                [this, id](std::uint32_t) { relayReadable(id); });
        !watched.ok()) {
        ::close(pair[0]);
        ::close(pair[1]);
        note("device " + device.row.peer.text() + " could not be handed over: " + watched.text());
        return false;
    }
    device.relay = pair[0];
    device.row.state = DeviceState::WithConsole;
    handOutRecords(device, "Handed to the console");
    changed();
    handover_(DeviceHost::Offer{id, pair[1], device.row.peer, Transport::Udp});
    return true;
}

void HostCore::relayReadable(std::uint64_t id)
{
    const auto found = devices_.find(id);
    if (found == devices_.end())
        return;
    Device& device = *found->second;
    for (int i = 0; i < kDatagramsPerTurn && device.relay >= 0; ++i) {
        const ssize_t got =
            ::recv(device.relay, loop_.scratch(), net::EventLoop::kScratchBytes, MSG_DONTWAIT);
        if (got > 0) {
            const ssize_t sent =
                udp_ < 0
                    ? -1
                    : ::sendto(udp_, loop_.scratch(), static_cast<std::size_t>(got), MSG_NOSIGNAL,
                               device.row.peer.address(), device.row.peer.length);
            if (sent > 0)
                device.row.bytesOut += static_cast<std::uint64_t>(sent);
            changed();
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        // The console closed its end: it tells how (giveBack, handedDeviceEnded).
        closeRelay(device);
    }
}

void HostCore::closeRelay(Device& device)
{
    if (device.relay < 0)
        return;
    loop_.unwatch(device.relay);
    ::close(device.relay);
    device.relay = -1;
}

void HostCore::giveBack(std::uint64_t id, int fd)
{
    const auto found = devices_.find(id);
    if (found != devices_.end() && found->second->row.transport == Transport::Udp) {
        // The console's end of the pair: the host serves the address again.
        ::close(fd);
        closeRelay(*found->second);
        if (found->second->row.state == DeviceState::WithConsole) {
            found->second->row.state = DeviceState::Connected;
            startRecords(*found->second);
        }
        changed();
        return;
    }
    if (found != devices_.end() && found->second->row.state == DeviceState::WithConsole) {
        startRecords(*found->second);
        serve(*found->second, fd);
        return;
    }
    Device& device = addDevice(Transport::Tcp, net::Endpoint::peerOf(fd), DeviceState::Connected);
    startRecords(device);
    serve(device, fd);
}

void HostCore::handedDeviceEnded(std::uint64_t id, DeviceState state, const std::string& why)
{
    const auto found = devices_.find(id);
    if (found != devices_.end() && found->second->row.state == DeviceState::WithConsole)
        endDevice(id, state, why);
}

void HostCore::send(std::uint64_t id, std::string_view bytes)
{
    const auto found = devices_.find(id);
    if (found != devices_.end())
        sendTo(*found->second, bytes);
}

void HostCore::sendTo(Device& device, std::string_view bytes)
{
    base::Error failure;
    if (device.row.transport == Transport::Tcp) {
        if (!device.stream)
            return;
        failure = device.stream->send(bytes);
        device.row.bytesOut = device.stream->bytesOut();
    } else if (udp_ >= 0) {
        // A datagram goes whole or not at all; one the socket cannot take now
        // is dropped, as a busy UDP network would.
        const ssize_t sent = ::sendto(udp_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                                      device.row.peer.address(), device.row.peer.length);
        if (sent > 0)
            device.row.bytesOut += static_cast<std::uint64_t>(sent);
        else
            failure = base::Error::fromErrno();
    }
    if (device.records)
        device.records->written(bytes, failure);
    changed();
}

void HostCore::close(std::uint64_t id)
{
    const auto found = devices_.find(id);
    if (found != devices_.end() && found->second->row.state == DeviceState::Connected)
        endDevice(id, DeviceState::ClosedHere, {});
}

void HostCore::setAnswers(std::vector<check::AnswerRule> rules, std::uint32_t maxPerSecond,
                          protocol::DelimiterMode mode)
{
    answerRules_ = std::move(rules);
    answersPerSecond_ = std::max<std::uint32_t>(1, maxPerSecond);
    settings_.mode = mode;
    for (auto& [id, device] : devices_) {
        if (device->intake.mode() != mode) {
            DeviceIntake fresh(mode);
            device->intake = std::move(fresh);
        }
        device->intake.setAnswers(answerRules_, answersPerSecond_);
    }
}

void HostCore::udpReadable()
{
    for (int i = 0; i < kDatagramsPerTurn && udp_ >= 0; ++i) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t got = ::recvfrom(udp_, loop_.scratch(), net::EventLoop::kScratchBytes,
                                       MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0)
            return; // EAGAIN: all read; anything else is told again next turn
        udpDatagram(net::Endpoint::from(reinterpret_cast<const sockaddr*>(&from), length),
                    std::string_view(loop_.scratch(), static_cast<std::size_t>(got)));
    }
}

void HostCore::udpDatagram(const net::Endpoint& peer, std::string_view datagram)
{
    Device* device = nullptr;
    if (const auto known = udpPeers_.find(peer); known != udpPeers_.end()) {
        device = devices_.at(known->second).get();
    } else if (connectedCount() >= settings_.maxDevices) {
        if (refusedUdp_.size() >= kRefusedUdpKept)
            refusedUdp_.clear();
        if (refusedUdp_.insert(peer).second)
            refuse(Transport::Udp, peer);
        return;
    } else {
        device = &addDevice(Transport::Udp, peer, DeviceState::Connected);
        udpPeers_.emplace(peer, device->row.id);
        startRecords(*device);
        device->lastHeard = loop_.now();
        armIdle(*device);
        if (wantDevice_ && handover_) {
            wantDevice_ = false;
            static_cast<void>(handOverUdp(*device));
        }
    }
    device->lastHeard = loop_.now();
    device->row.bytesIn += datagram.size();
    if (device->row.state == DeviceState::WithConsole) {
        // The console answers its own device; one its end cannot take now
        // is dropped, as a busy network would.
        if (device->relay >= 0)
            static_cast<void>(::send(device->relay, datagram.data(), datagram.size(),
                                     MSG_DONTWAIT | MSG_NOSIGNAL));
        static_cast<void>(device->intake.received(datagram, check::Chunk::Datagram, loop_.now()));
        device->row.lastFrame = device->intake.lastFrame();
        changed();
        return;
    }
    if (device->records)
        device->records->read(datagram);
    const std::vector<std::string> answers =
        device->intake.received(datagram, check::Chunk::Datagram, loop_.now());
    device->row.lastFrame = device->intake.lastFrame();
    for (const std::string& answer : answers)
        sendTo(*device, answer);
    changed();
}

void HostCore::armIdle(Device& device)
{
    const std::uint64_t id = device.row.id;
    // One timer per device, moved on only when it fires: a device that keeps
    // talking costs no timer work per datagram.
    device.idleTimer =
        loop_.at(device.lastHeard + settings_.udpIdle, [this, id] { idleCheck(id); });
}

void HostCore::idleCheck(std::uint64_t id)
{
    const auto found = devices_.find(id);
    if (found == devices_.end())
        return;
    Device& device = *found->second;
    if (loop_.now() - device.lastHeard >= settings_.udpIdle) {
        endDevice(id, DeviceState::Dropped, "silent for " + secondsText(settings_.udpIdle));
        return;
    }
    armIdle(device);
}

void HostCore::setRecorder(std::shared_ptr<traffic::RecordSink> recorder)
{
    if (recorder == recorder_)
        return;
    for (auto& [id, device] : devices_)
        if (device->records) {
            device->records->note("Recording stopped");
            handOutRecords(*device);
        }
    recorder_ = std::move(recorder);
    for (auto& [id, device] : devices_)
        if (device->row.state == DeviceState::Connected)
            startRecords(*device);
}

void HostCore::startRecords(Device& device)
{
    if (recorder_)
        device.records = std::make_unique<DeviceRecords>(device.row.transport, device.row.peer);
}

void HostCore::handOutRecords(Device& device, std::string_view event)
{
    if (!device.records)
        return;
    if (!event.empty())
        device.records->note(event);
    if (recorder_)
        device.records->handOut(*recorder_);
    device.records.reset();
}

void HostCore::note(const std::string& line)
{
    if (notes_)
        notes_(line);
}

void HostCore::closeAll()
{
    wantDevice_ = false;
    stopListening();
    std::vector<std::uint64_t> ids;
    for (const auto& [id, device] : devices_)
        if (device->row.state == DeviceState::Connected)
            ids.push_back(id);
    for (const std::uint64_t id : ids)
        endDevice(id, DeviceState::ClosedHere, {});
}

void HostCore::shutdown()
{
    closeAll();
    loop_.cancel(publishTimer_);
    publishTimer_ = 0;
    changed();
    publish();
}

void HostCore::publish()
{
    if (changed_) {
        changed_ = false;
        HostSnapshot next;
        next.tcpLocal = tcp_ ? tcp_->local() : net::Endpoint{};
        next.udpLocal = udpLocal_;
        next.refused = refused_;
        next.connected = devices_.size();
        next.rows.reserve(ended_.size() + devices_.size());
        next.rows.assign(ended_.begin(), ended_.end());
        for (const auto& [id, device] : devices_)
            next.rows.push_back(device->row);
        std::sort(next.rows.begin(), next.rows.end(),
                  [](const DeviceRow& a, const DeviceRow& b) { return a.id < b.id; });
        const std::lock_guard<std::mutex> lock(publishedLock_);
        next.version = published_.version + 1;
        published_ = std::move(next);
    }
    if (publishTimer_ != 0)
        publishTimer_ = loop_.after(settings_.publishEvery, [this] { publish(); });
}

HostSnapshot HostCore::snapshot() const
{
    const std::lock_guard<std::mutex> lock(publishedLock_);
    return published_;
}

} // namespace host
