#include "hostcore.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace host
{

HostCore::HostCore(net::EventLoop& loop, HostSettings settings, DeviceHost::Handover handover,
                   DeviceHost::Notes notes)
    : loop_(loop), settings_(settings), handover_(std::move(handover)), notes_(std::move(notes)),
      table_(loop, settings),
      secure_(
          loop,
          SecureIntake::Settings{settings.streamLimits, settings.maxHandshakes,
                                 settings.handshakeLimit},
          [this](int plain, const net::Endpoint& peer, const TlsFacts& facts) {
              accepted(plain, peer, facts);
          },
          [this](const net::Endpoint& peer, const base::Error& why, bool secured) {
              note("TLS device " + peer.text() +
                   (secured ? ": connection failed: " : ": handshake failed: ") + why.text());
          },
          [this](bool accept) {
              if (tcp_)
                  tcp_->setAccepting(accept);
          }),
      udp_(
          loop, table_, settings,
          [this](const net::Endpoint& peer) -> Device& { return udpAdmitted(peer); },
          [this](const net::Endpoint& peer) { refuse(Transport::Udp, peer); },
          [this](std::uint64_t id, DeviceState state, std::string why) {
              endDevice(id, state, std::move(why));
          })
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
    udp_.close();
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
    if (device->row.transport == Transport::Udp)
        udp_.forget(*device);
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
    const base::Result<int> fd = udp_.relay(device);
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

void HostCore::giveBack(std::uint64_t id, int fd)
{
    Device* found = table_.find(id);
    if (found && found->row.transport == Transport::Udp) {
        // The console's end of the pair: the host serves the address again.
        ::close(fd);
        udp_.endRelay(id);
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
        udp_.send(device, bytes);
        return;
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

HostCore::Device& HostCore::udpAdmitted(const net::Endpoint& peer)
{
    Device& device = addDevice(Transport::Udp, peer, DeviceState::Connected);
    table_.startRecords(device);
    if (wantDevice_ && handover_) {
        wantDevice_ = false;
        static_cast<void>(handOverUdp(device));
    }
    return device;
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
