#include "fleetsimulator.h"

#include "nettext.h"

#include "socket/hostlookup.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace devicetools
{

namespace
{

using Clock = PacedOutput::Clock;

// What an epoll event is about: the kind in the high half, the index of the
// device or client slot in the low half.
enum Kind : std::uint32_t { kStop, kListener, kUdp, kClient };

std::uint64_t tag(Kind kind, std::uint32_t index)
{
    return (std::uint64_t{kind} << 32) | index;
}

// Adds `index` to a list of things with timers, or takes it out.
void setTimed(std::vector<std::uint32_t>& list, bool& listed, std::uint32_t index, bool timed)
{
    if (timed && !listed) {
        list.push_back(index);
    } else if (!timed && listed) {
        list.erase(std::find(list.begin(), list.end(), index));
    }
    listed = timed;
}

} // namespace

FleetSimulator::FleetSimulator(const SimulatorConfig& config, SimulatorLog& log)
    : config_(config), log_(log), parts_(config, log)
{
}

FleetSimulator::~FleetSimulator()
{
    stop();
}

std::uint64_t FleetSimulator::descriptorsNeeded(const SimulatorConfig& config)
{
    return std::uint64_t{config.devices} * (2 + std::uint64_t{config.maxClients}) +
           kSpareDescriptors;
}

base::Error FleetSimulator::start()
{
    if (started_) {
        return base::Error(base::Fault::BadInput, 0, "the simulator runs already");
    }
    if (!parts_.stop.valid()) {
        return base::Error::fromErrno("cannot make the stop pipe");
    }
    address_ = net::resolveHost(config_.listenHost.c_str());
    if (address_ == net::kAddressNone) {
        return base::Error(base::Fault::BadInput, 0,
                           "cannot resolve the address " + config_.listenHost);
    }
    if (base::Error error = ports_.bind(address_, config_.port, config_.devices); !error.ok()) {
        return error;
    }
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0 || !watch(EPOLL_CTL_ADD, parts_.stop.fd(), EPOLLIN, tag(kStop, 0))) {
        const base::Error error = base::Error::fromErrno("cannot make the event loop");
        stop();
        return error;
    }
    devices_.resize(ports_.devices().size());
    for (std::uint32_t i = 0; i < devices_.size(); ++i) {
        Device& device = devices_[i];
        const PortRange::Device& sockets = ports_.devices()[i];
        device.port = static_cast<std::uint16_t>(ports_.firstPort() + i);
        device.listener = sockets.listener;
        device.peerSuffix = " to port " + std::to_string(device.port);
        device.udp = std::make_unique<UdpService>(sockets.udp, parts_.settings, device.peerSuffix);
        if (!watch(EPOLL_CTL_ADD, sockets.listener, EPOLLIN, tag(kListener, i)) ||
            !watch(EPOLL_CTL_ADD, sockets.udp, EPOLLIN, tag(kUdp, i))) {
            const base::Error error = base::Error::fromErrno("cannot watch the sockets");
            stop();
            return error;
        }
    }
    buffer_.resize(UdpService::kDatagramCapacity);
    started_ = true;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        stop();
        return base::Error::system(e.code().value(), "cannot start a thread");
    }
    return {};
}

void FleetSimulator::stop()
{
    parts_.stop.trigger();
    if (thread_.joinable()) {
        thread_.join();
    }
    slots_.clear();
    devices_.clear();
    ports_.close();
    if (epoll_ >= 0) {
        ::close(epoll_);
        epoll_ = -1;
    }
}

bool FleetSimulator::watch(int op, int fd, std::uint32_t events, std::uint64_t tag)
{
    epoll_event event{};
    event.events = events;
    event.data.u64 = tag;
    return ::epoll_ctl(epoll_, op, fd, &event) == 0;
}

void FleetSimulator::run()
{
    std::vector<epoll_event> events(kEventBatch);
    nextSweep_ = Clock::now() + std::chrono::milliseconds(kSweepMs);
    while (!parts_.stop.triggered()) {
        const int count = ::epoll_wait(epoll_, events.data(), kEventBatch, waitMs());
        if (count < 0 && errno != EINTR) {
            log_.write({},
                       "devicesim: waiting for events failed: " + base::Error::fromErrno().text());
            break;
        }
        for (int i = 0; i < count && !parts_.stop.triggered(); ++i) {
            const auto kind = static_cast<Kind>(events[i].data.u64 >> 32);
            const auto index = static_cast<std::uint32_t>(events[i].data.u64);
            if (kind == kListener) {
                acceptClients(index);
            } else if (kind == kUdp) {
                devices_[index].udp->receive(buffer_.data());
                settleUdp(index);
            } else if (kind == kClient) {
                clientEvent(index, events[i].events);
            }
        }
        runTimers();
        freeSlots_.insert(freeSlots_.end(), releasedSlots_.begin(), releasedSlots_.end());
        releasedSlots_.clear();
    }
    for (std::uint32_t slot = 0; slot < slots_.size(); ++slot) {
        if (slots_[slot].connection) {
            endClient(slot, true);
        }
    }
}

int FleetSimulator::waitMs() const
{
    std::optional<std::uint32_t> due;
    const auto earlier = [&due](std::optional<std::uint32_t> ms) {
        if (ms) {
            due = due ? std::min(*due, *ms) : *ms;
        }
    };
    for (const std::uint32_t slot : timedClients_) {
        earlier(slots_[slot].connection->msUntilDue());
    }
    for (const std::uint32_t device : timedUdp_) {
        earlier(devices_[device].udp->msUntilDue());
    }
    // Without clients and resting listeners there is nothing to sweep.
    if (activeClients_.load() != 0 || !pausedListeners_.empty()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(nextSweep_ - Clock::now()).count();
        earlier(static_cast<std::uint32_t>(std::max<std::int64_t>(left, 0)));
    }
    return due ? static_cast<int>(std::min<std::uint32_t>(*due, INT32_MAX)) : -1;
}

void FleetSimulator::acceptClients(std::uint32_t index)
{
    Device& device = devices_[index];
    for (int turn = 0; turn < kAcceptsPerTurn; ++turn) {
        net::SocketAddress peer;
        socklen_t length = net::SocketAddress::kSize;
        const int fd =
            ::accept4(device.listener, peer.asSockaddr(), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // A connection reset before it was taken is simply gone.
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                acceptFailed(index, base::Error::fromErrno());
            }
            return;
        }
        if (!acceptError_.ok()) {
            log_.write({}, "tcp: accepting clients again");
            acceptError_ = {};
        }
        const std::string peerText = "tcp " + endpointText(peer) + device.peerSuffix;
        if (device.clients >= config_.maxClients) {
            log_.write(peerText,
                       "refused: all " + std::to_string(config_.maxClients) + " client slots busy");
            ::close(fd);
            continue;
        }
        // Each answer goes out as soon as it is written, so that the pieces
        // of a split answer are not merged on the way.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::uint32_t slot;
        if (freeSlots_.empty()) {
            slot = static_cast<std::uint32_t>(slots_.size());
            slots_.emplace_back();
        } else {
            slot = freeSlots_.back();
            freeSlots_.pop_back();
        }
        if (!watch(EPOLL_CTL_ADD, fd, EPOLLIN, tag(kClient, slot))) {
            const base::Error error = base::Error::fromErrno();
            log_.write(peerText, "refused: cannot watch the connection: " + error.text());
            ::close(fd);
            freeSlots_.push_back(slot);
            continue;
        }
        slots_[slot] = Slot{
            std::make_unique<FleetConnection>(fd, peerText, parts_.settings, config_.idleTimeoutMs),
            index, EPOLLIN, false};
        ++device.clients;
        ++activeClients_;
        log_.write(peerText, "connected (" + std::to_string(device.clients) + " of at most " +
                                 std::to_string(config_.maxClients) + ")");
    }
}

void FleetSimulator::acceptFailed(std::uint32_t device, const base::Error& error)
{
    // Without descriptors the listener stays readable: it rests a while so
    // that the loop does not spin until some are free again.
    watch(EPOLL_CTL_MOD, devices_[device].listener, 0, tag(kListener, device));
    if (pausedListeners_.empty()) {
        pausedAt_ = Clock::now();
    }
    pausedListeners_.push_back(device);
    if (error == acceptError_) {
        return;
    }
    acceptError_ = error;
    const bool noDescriptors = error.systemCode() == EMFILE || error.systemCode() == ENFILE;
    log_.write({}, "tcp: cannot accept a client: " + error.text() +
                       (noDescriptors ? "; clients wait until descriptors are free" : "") +
                       " (said once until accepting works again)");
}

void FleetSimulator::clientEvent(std::uint32_t slot, std::uint32_t events)
{
    FleetConnection* connection = slots_[slot].connection.get();
    if (connection == nullptr) {
        return;
    }
    if ((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) {
        connection->readable(buffer_.data(), buffer_.size());
    }
    if ((events & EPOLLOUT) != 0) {
        connection->writable();
    }
    if ((events & (EPOLLHUP | EPOLLERR)) != 0) {
        connection->hangUp();
    }
    settle(slot);
}

void FleetSimulator::settle(std::uint32_t index)
{
    Slot& slot = slots_[index];
    FleetConnection& connection = *slot.connection;
    if (connection.ended()) {
        endClient(index, false);
        return;
    }
    const std::uint32_t events =
        (connection.wantsRead() ? EPOLLIN : 0U) | (connection.wantsWrite() ? EPOLLOUT : 0U);
    if (events != slot.events &&
        watch(EPOLL_CTL_MOD, connection.fd(), events, tag(kClient, index))) {
        slot.events = events;
    }
    setTimed(timedClients_, slot.timed, index, connection.msUntilDue().has_value());
}

void FleetSimulator::settleUdp(std::uint32_t index)
{
    Device& device = devices_[index];
    setTimed(timedUdp_, device.udpTimed, index, device.udp->msUntilDue().has_value());
}

void FleetSimulator::endClient(std::uint32_t index, bool stopping)
{
    Slot& slot = slots_[index];
    watch(EPOLL_CTL_DEL, slot.connection->fd(), 0, 0);
    const std::string ending = slot.connection->finish(stopping);
    log_.write(slot.connection->peerText(), ending);
    slot.connection.reset();
    setTimed(timedClients_, slot.timed, index, false);
    --devices_[slot.device].clients;
    --activeClients_;
    releasedSlots_.push_back(index);
}

void FleetSimulator::runTimers()
{
    // Ticking may end a client, which takes it off the list: walk a copy.
    scratch_ = timedClients_;
    for (const std::uint32_t slot : scratch_) {
        FleetConnection* connection = slots_[slot].connection.get();
        if (connection != nullptr && connection->msUntilDue().value_or(1) == 0) {
            connection->tick();
            settle(slot);
        }
    }
    scratch_ = timedUdp_;
    for (const std::uint32_t device : scratch_) {
        if (devices_[device].udp->msUntilDue().value_or(1) == 0) {
            devices_[device].udp->tick();
            settleUdp(device);
        }
    }
    if (Clock::now() >= nextSweep_) {
        sweep();
    }
}

void FleetSimulator::sweep()
{
    const Clock::time_point now = Clock::now();
    nextSweep_ = now + std::chrono::milliseconds(kSweepMs);
    for (std::uint32_t slot = 0; slot < slots_.size(); ++slot) {
        if (slots_[slot].connection) {
            slots_[slot].connection->checkLimits(now);
            settle(slot);
        }
    }
    if (!pausedListeners_.empty() && now - pausedAt_ >= std::chrono::milliseconds(kAcceptRetryMs)) {
        for (const std::uint32_t device : pausedListeners_) {
            watch(EPOLL_CTL_MOD, devices_[device].listener, EPOLLIN, tag(kListener, device));
        }
        pausedListeners_.clear();
    }
}

} // namespace devicetools
