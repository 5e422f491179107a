#include "hostcore.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace host
{

namespace
{

constexpr std::size_t kRefusedUdpKept = 1024;

std::string secondsText(std::chrono::milliseconds ms)
{
    return std::to_string(ms.count() / 1000) + " s";
}

} // namespace

HostCore::HostCore(net::EventLoop& loop, HostSettings settings, DeviceHost::Handover handover,
                   DeviceHost::Notes notes)
    : loop_(loop), settings_(settings), handover_(std::move(handover)), notes_(std::move(notes)),
      secure_(
          loop,
          SecureIntake::Settings{settings.streamLimits, settings.maxHandshakes,
                                 settings.handshakeLimit},
          [this](int plain, const net::Endpoint& peer, const TlsFacts& facts) {
              accepted(plain, peer, facts);
          },
          [this](const net::Endpoint& peer, const base::Error& why) {
              note("TLS device " + peer.text() + " gave up: " + why.text());
          },
          [this](bool accept) {
              if (tcp_)
                  tcp_->setAccepting(accept);
          }),
      udp_(
          loop,
          [this](const net::Endpoint& peer, std::string_view datagram) {
              udpDatagram(peer, datagram);
          },
          [this](std::uint64_t id, std::size_t bytes) { relayed(id, bytes); }),
      table_(loop, settings)
{
}

HostCore::~HostCore()
{
    shutdown();
}

base::Result<net::Endpoint> HostCore::listen(DeviceHost::Protocols protocols,
                                             const net::Endpoint& local,
                                             std::shared_ptr<tls::TlsContext> tls)
{
    // The listeners before are closed first, so that listening again on the
    // same port works.
    stopListening();
    net::Endpoint tcpLocal;
    if (protocols & DeviceHost::Tcp) {
        base::Result<int> fd = net::StreamListener::open(local);
        if (!fd)
            return fd.error();
        tls_ = std::move(tls);
        auto listener = std::make_unique<net::StreamListener>(
            loop_, *fd, [this](int fd, const net::Endpoint& peer) { tcpAccepted(fd, peer); },
            [this](const base::Error& error) {
                note("accepting devices failed: " + error.text());
            });
        if (const base::Error started = listener->start(); !started.ok())
            return started;
        tcpLocal = listener->local();
        tcp_ = std::move(listener);
    }
    if (protocols & DeviceHost::Udp) {
        base::Result<net::Endpoint> bound = udp_.open(tcpLocal.empty() ? local : tcpLocal);
        if (!bound) {
            stopListening();
            return bound.error();
        }
    }
    table_.setListening(tcpLocal, udp_.local());
    return tcpLocal.empty() ? udp_.local() : tcpLocal;
}

void HostCore::stopListening()
{
    tcp_.reset();
    // Connections still in their handshake came through the listener: they
    // go with it; TLS devices already served stay, as plain ones do.
    tls_.reset();
    secure_.closeHandshakes();
    if (udp_.isOpen()) {
        // UDP devices are heard on the listening socket only: they end with it.
        std::vector<std::uint64_t> udpIds;
        for (const auto& [peer, id] : udpPeers_)
            udpIds.push_back(id);
        for (const std::uint64_t id : udpIds)
            endDevice(id, DeviceState::ClosedHere, {});
        udp_.close();
    }
    table_.setListening({}, {});
}

HostCore::Device& HostCore::addDevice(Transport transport, const net::Endpoint& peer,
                                      DeviceState state)
{
    Device& device = table_.add(transport, peer, state, settings_.mode);
    if (!answerRules_.empty())
        device.intake.setAnswers(answerRules_, answersPerSecond_);
    return device;
}

void HostCore::refuse(Transport transport, const net::Endpoint& peer)
{
    table_.refused();
    note(transportText(transport) + " device " + peer.text() +
         " refused: " + std::to_string(settings_.maxDevices) + " devices connected already");
}

void HostCore::tcpAccepted(int fd, const net::Endpoint& peer)
{
    if (!tls_) {
        accepted(fd, peer, {});
        return;
    }
    // Refused before its handshake costs anything.
    if (table_.connected() >= settings_.maxDevices) {
        ::close(fd);
        refuse(Transport::Tcp, peer);
        return;
    }
    secure_.take(fd, peer, tls_);
}

void HostCore::accepted(int fd, const net::Endpoint& peer, const TlsFacts& tls)
{
    if (table_.connected() >= settings_.maxDevices) {
        ::close(fd);
        refuse(Transport::Tcp, peer);
        return;
    }
    if (wantDevice_ && handover_) {
        wantDevice_ = false;
        Device& device = addDevice(Transport::Tcp, peer, DeviceState::WithConsole);
        device.row.tls = tls;
        handover_(DeviceHost::Offer{device.row.id, fd, peer, Transport::Tcp, tls});
        return;
    }
    Device& device = addDevice(Transport::Tcp, peer, DeviceState::Connected);
    device.row.tls = tls;
    table_.startRecords(device);
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
    Device* found = table_.find(id);
    if (!found || !found->stream)
        return;
    Device& device = *found;
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
    std::unique_ptr<Device> device = table_.remove(id);
    if (!device)
        return;
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
        udp_.closeRelay(device->row.id);
    }
    device->row.state = state;
    device->row.why = std::move(why);
    if (device->records) {
        device->records->ended(state, device->row.why);
        table_.handOutRecords(*device);
    }
    table_.ended(std::move(device->row));
}

bool HostCore::takeDevice(std::uint64_t id)
{
    Device* found = table_.find(id);
    if (!found || !handover_ || found->row.state != DeviceState::Connected)
        return false;
    Device& device = *found;
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
    table_.handOutRecords(device, "Handed to the console");
    changed();
    wantDevice_ = false;
    handover_(DeviceHost::Offer{id, fd, device.row.peer, Transport::Tcp, device.row.tls});
    return true;
}

bool HostCore::handOverUdp(Device& device)
{
    // A UDP device has no socket of its own: the console's channel gets one
    // end of a relay, and the host relays between it and the device's address.
    const base::Result<int> fd = udp_.openRelay(device.row.id, device.row.peer);
    if (!fd) {
        note("device " + device.row.peer.text() +
             " could not be handed over: " + fd.error().text());
        return false;
    }
    device.row.state = DeviceState::WithConsole;
    table_.handOutRecords(device, "Handed to the console");
    changed();
    handover_(DeviceHost::Offer{device.row.id, *fd, device.row.peer, Transport::Udp, {}});
    return true;
}

void HostCore::relayed(std::uint64_t id, std::size_t bytes)
{
    if (Device* device = table_.find(id)) {
        device->row.bytesOut += bytes;
        changed();
    }
}

void HostCore::giveBack(std::uint64_t id, int fd)
{
    Device* found = table_.find(id);
    if (found && found->row.transport == Transport::Udp) {
        // The console's end of the pair: the host serves the address again.
        ::close(fd);
        udp_.closeRelay(id);
        if (found->row.state == DeviceState::WithConsole) {
            found->row.state = DeviceState::Connected;
            table_.startRecords(*found);
        }
        changed();
        return;
    }
    if (found && found->row.state == DeviceState::WithConsole) {
        table_.startRecords(*found);
        serve(*found, fd);
        return;
    }
    Device& device = addDevice(Transport::Tcp, net::Endpoint::peerOf(fd), DeviceState::Connected);
    table_.startRecords(device);
    serve(device, fd);
}

void HostCore::handedDeviceEnded(std::uint64_t id, DeviceState state, const std::string& why)
{
    const Device* found = table_.find(id);
    if (found && found->row.state == DeviceState::WithConsole)
        endDevice(id, state, why);
}

void HostCore::send(std::uint64_t id, std::string_view bytes)
{
    if (Device* device = table_.find(id))
        sendTo(*device, bytes);
}

void HostCore::sendTo(Device& device, std::string_view bytes)
{
    base::Error failure;
    if (device.row.transport == Transport::Tcp) {
        if (!device.stream)
            return;
        failure = device.stream->send(bytes);
        device.row.bytesOut = device.stream->bytesOut();
    } else {
        // One the socket cannot take now is dropped, as a busy UDP network
        // would drop it.
        failure = udp_.sendTo(device.row.peer, bytes);
        if (failure.ok())
            device.row.bytesOut += bytes.size();
    }
    if (device.records)
        device.records->written(bytes, failure);
    changed();
}

void HostCore::close(std::uint64_t id)
{
    const Device* found = table_.find(id);
    if (found && found->row.state == DeviceState::Connected)
        endDevice(id, DeviceState::ClosedHere, {});
}

void HostCore::setAnswers(std::vector<check::AnswerRule> rules, std::uint32_t maxPerSecond,
                          protocol::DelimiterMode mode)
{
    answerRules_ = std::move(rules);
    answersPerSecond_ = std::max<std::uint32_t>(1, maxPerSecond);
    settings_.mode = mode;
    for (auto& [id, device] : table_.devices()) {
        if (device->intake.mode() != mode) {
            DeviceIntake fresh(mode);
            device->intake = std::move(fresh);
        }
        device->intake.setAnswers(answerRules_, answersPerSecond_);
    }
}

void HostCore::udpDatagram(const net::Endpoint& peer, std::string_view datagram)
{
    Device* device = nullptr;
    if (const auto known = udpPeers_.find(peer); known != udpPeers_.end()) {
        device = table_.find(known->second);
    } else if (table_.connected() >= settings_.maxDevices) {
        if (refusedUdp_.size() >= kRefusedUdpKept)
            refusedUdp_.clear();
        if (refusedUdp_.insert(peer).second)
            refuse(Transport::Udp, peer);
        return;
    } else {
        device = &addDevice(Transport::Udp, peer, DeviceState::Connected);
        udpPeers_.emplace(peer, device->row.id);
        table_.startRecords(*device);
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
        udp_.toRelay(device->row.id, datagram);
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
    Device* found = table_.find(id);
    if (!found)
        return;
    Device& device = *found;
    if (loop_.now() - device.lastHeard >= settings_.udpIdle) {
        endDevice(id, DeviceState::Dropped, "silent for " + secondsText(settings_.udpIdle));
        return;
    }
    armIdle(device);
}

void HostCore::setRecorder(std::shared_ptr<traffic::RecordSink> recorder)
{
    table_.setRecorder(std::move(recorder));
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
    for (const auto& [id, device] : table_.devices())
        if (device->row.state == DeviceState::Connected)
            ids.push_back(id);
    for (const std::uint64_t id : ids)
        endDevice(id, DeviceState::ClosedHere, {});
}

void HostCore::shutdown()
{
    closeAll();
    table_.stop();
}

HostSnapshot HostCore::snapshot() const
{
    return table_.snapshot();
}

} // namespace host
