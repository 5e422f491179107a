#include "fleetsimulator.h"

#include "nettext.h"
#include "peeraddress.h"

#include "socket/addresslookup.h"
#include "tls/certificateinfo.h"
#include "tls/selfsigned.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace devicetools
{

static_assert(net::EventLoop::kScratchBytes >= UdpService::kDatagramCapacity,
              "a datagram is read into the loop's scratch buffer");

FleetSimulator::FleetSimulator(const SimulatorConfig& config, SimulatorLog& log)
    : config_(config), log_(log), parts_(config, log), clients_(loop_, config, parts_)
{
}

FleetSimulator::~FleetSimulator()
{
    stop();
}

std::uint64_t FleetSimulator::descriptorsNeeded(const SimulatorConfig& config)
{
    const std::uint64_t devices = std::max<std::uint32_t>(config.devices, 1);
    if (!config.connectHost.empty()) {
        return devices + kSpareDescriptors;
    }
    return devices * (2 + std::uint64_t{config.maxClients}) + kSpareDescriptors;
}

std::uint32_t FleetSimulator::activeClients() const
{
    return dialing_ ? dialing_->connected() : activeClients_.load();
}

base::Error FleetSimulator::start()
{
    if (started_) {
        return base::Error(base::Fault::BadInput, 0, "the simulator runs already");
    }
    if (!loop_.error().ok()) {
        return loop_.error();
    }
    base::Error error = config_.connectHost.empty() ? startListening() : startDialing();
    if (error.ok() && config_.tls.on) {
        error = startTls();
    }
    if (!error.ok()) {
        stop();
        return error;
    }
    started_ = true;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        stop();
        return base::Error::system(e.code().value(), "cannot start a thread");
    }
    return {};
}

base::Error FleetSimulator::startTls()
{
    tls::ContextSettings settings;
    if (!config_.connectHost.empty()) {
        base::Result<std::shared_ptr<tls::TlsContext>> context = config_.tls.clientContext();
        if (!context) {
            return context.error();
        }
        clients_.useTls(*context, config_.connectHost, "host");
        return {};
    }
    settings.role = tls::Role::Server;
    if (!config_.tls.certificateFile.empty()) {
        base::Result<tls::Credentials> own =
            tls::Credentials::load(config_.tls.certificateFile, config_.tls.keyFile);
        if (!own) {
            return own.error();
        }
        settings.own = std::move(*own);
    } else {
        // Kept in memory only: a tester pins the fingerprint shown at start.
        std::vector<std::string> names{"127.0.0.1", "::1", "localhost"};
        if (std::find(names.begin(), names.end(), config_.listenHost) == names.end()) {
            names.insert(names.begin(), config_.listenHost);
        }
        base::Result<tls::Credentials> made = tls::makeSelfSigned("devicesim", names);
        if (!made) {
            return made.error();
        }
        settings.own = std::move(*made);
        tlsCertificateMade_ = true;
    }
    const base::Result<tls::CertificateInfo> info =
        tls::CertificateInfo::ofPem(settings.own.certificatePem);
    if (!info) {
        return info.error();
    }
    tlsFingerprint_ = info->fingerprint;
    base::Result<std::shared_ptr<tls::TlsContext>> context = tls::TlsContext::make(settings);
    if (!context) {
        return context.error();
    }
    clients_.useTls(*context, {}, "client");
    return {};
}

base::Error FleetSimulator::startDialing()
{
    const base::Result<std::vector<net::Endpoint>> hosts =
        net::lookUpEndpoints(config_.connectHost, config_.connectPort, SOCK_STREAM);
    if (!hosts) {
        return base::Error(hosts.error().fault(), 0, "cannot dial: " + hosts.error().text());
    }
    dialing_ = std::make_unique<DialingDevices>(loop_, config_, log_, clients_, *hosts);
    dialing_->start();
    return {};
}

base::Error FleetSimulator::startListening()
{
    if (const auto numeric = net::Endpoint::fromNumeric(config_.listenHost, 0)) {
        address_ = *numeric;
    } else {
        const base::Result<std::vector<net::Endpoint>> found =
            net::lookUpEndpoints(config_.listenHost, 0, SOCK_STREAM);
        if (!found) {
            return base::Error(found.error().fault(), 0, "cannot listen: " + found.error().text());
        }
        address_ = found->front();
    }
    const std::uint32_t count = std::max<std::uint32_t>(config_.devices, 1);
    if (base::Error error = ports_.bind(address_, config_.port, count); !error.ok()) {
        return error;
    }
    devices_.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        Device& device = devices_[i];
        device.port = static_cast<std::uint16_t>(ports_.firstPort() + i);
        if (config_.devices != 0) {
            device.peerSuffix = " to port " + std::to_string(device.port);
        }
        device.listener = std::make_unique<net::StreamListener>(
            loop_, ports_.takeListener(i),
            [this, i](int fd, const net::Endpoint& peer) { accept(i, fd, peer); },
            [this](const base::Error& error) { acceptFailed(error); });
        device.udpFd = ports_.devices()[i].udp;
        device.udp = std::make_unique<UdpService>(device.udpFd, parts_.settings, device.peerSuffix);
        if (base::Error error = device.listener->start(); !error.ok()) {
            return base::Error(error.fault(), error.systemCode(), "cannot watch the sockets");
        }
        if (base::Error error = loop_.watch(device.udpFd, net::EventLoop::WantRead,
                                            [this, i](std::uint32_t) { onUdp(i); });
            !error.ok()) {
            return base::Error(error.fault(), error.systemCode(), "cannot watch the sockets");
        }
    }
    return {};
}

void FleetSimulator::run()
{
    if (const base::Error error = loop_.run(); !error.ok()) {
        log_.write({}, "devicesim: waiting for events failed: " + error.text());
    }
}

void FleetSimulator::stop()
{
    parts_.stop.trigger();
    if (thread_.joinable()) {
        loop_.post([this] {
            clients_.stopAll();
            loop_.quit();
        });
        thread_.join();
    }
    // The loop no longer runs: what is left is closed from here.
    clients_.stopAll();
    dialing_.reset();
    for (Device& device : devices_) {
        loop_.cancel(device.udpTimer);
        if (device.udpFd >= 0) {
            loop_.unwatch(device.udpFd);
        }
    }
    devices_.clear();
    ports_.close();
    activeClients_ = 0;
}

void FleetSimulator::accept(std::uint32_t index, int fd, const net::Endpoint& peer)
{
    if (!acceptError_.ok()) {
        log_.write({}, "tcp: accepting clients again");
        acceptError_ = {};
    }
    Device& device = devices_[index];
    const std::string peerText = "tcp " + peerAddressText(peer) + device.peerSuffix;
    if (device.clients >= config_.maxClients) {
        log_.write(peerText,
                   "refused: all " + std::to_string(config_.maxClients) + " client slots busy");
        ::close(fd);
        return;
    }
    // Counted before the connection's first lines, which may end it at once.
    ++device.clients;
    ++activeClients_;
    log_.write(peerText, "connected (" + std::to_string(device.clients) + " of at most " +
                             std::to_string(config_.maxClients) + ")");
    const LoopClients::Device identity{index + 1, DeviceEvents::deviceId(index + 1)};
    const auto ended = [this, index] {
        --devices_[index].clients;
        --activeClients_;
    };
    if (!clients_.add(fd, peerText, identity, ended)) {
        ended();
    }
}

void FleetSimulator::acceptFailed(const base::Error& error)
{
    if (error == acceptError_) {
        return;
    }
    acceptError_ = error;
    const bool noDescriptors = error.systemCode() == EMFILE || error.systemCode() == ENFILE;
    // The system's reason alone, as a blocking accept would give it.
    const std::string reason =
        error.systemCode() != 0 ? base::Error::system(error.systemCode()).text() : error.text();
    log_.write({}, "tcp: cannot accept a client: " + reason +
                       (noDescriptors ? "; clients wait until descriptors are free" : "") +
                       " (said once until accepting works again)");
}

void FleetSimulator::onUdp(std::uint32_t index)
{
    devices_[index].udp->receive(loop_.scratch());
    settleUdp(index);
}

void FleetSimulator::settleUdp(std::uint32_t index)
{
    Device& device = devices_[index];
    const std::optional<std::uint32_t> ms = device.udp->msUntilDue();
    if (!ms) {
        return;
    }
    const auto due = PacedOutput::Clock::now() + std::chrono::milliseconds(*ms);
    // As for the clients: only an earlier time replaces a timer set.
    if (device.udpTimer != 0 && due >= device.udpDueAt) {
        return;
    }
    loop_.cancel(device.udpTimer);
    device.udpDueAt = due;
    device.udpTimer = loop_.at(due, [this, index] {
        devices_[index].udpTimer = 0;
        devices_[index].udp->tick();
        settleUdp(index);
    });
}

} // namespace devicetools
