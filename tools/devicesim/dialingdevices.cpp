#include "dialingdevices.h"

#include "deviceevents.h"

#include <unistd.h>

#include <cstdio>
#include <random>

namespace devicetools
{

namespace
{

// "1.8 s": a wait as the log shows it.
std::string waitText(RedialSchedule::Millis wait)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(wait.count()) / 1000.0);
    return text;
}

} // namespace

DialingDevices::DialingDevices(net::EventLoop& loop, const SimulatorConfig& config,
                               SimulatorLog& log, LoopClients& clients,
                               std::vector<net::Endpoint> host)
    : loop_(loop), config_(config), log_(log), clients_(clients), host_(std::move(host)),
      dialInterval_(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) /
                    std::max<std::uint32_t>(config.dialRate, 1))
{
    const std::uint32_t count = std::max<std::uint32_t>(config.devices, 1);
    std::random_device seeds;
    devices_.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        Device& device = devices_.emplace_back(seeds());
        device.identity.number = i + 1;
        device.identity.id = DeviceEvents::deviceId(i + 1);
    }
}

DialingDevices::~DialingDevices()
{
    loop_.cancel(pumpTimer_);
    for (Device& device : devices_) {
        loop_.cancel(device.redial);
    }
}

void DialingDevices::start()
{
    nextDialAt_ = Clock::now();
    for (std::uint32_t i = 0; i < devices_.size(); ++i) {
        queue(i);
    }
}

void DialingDevices::queue(std::uint32_t index)
{
    devices_[index].redial = 0;
    waiting_.push_back(index);
    if (pumpTimer_ == 0) {
        pumpTimer_ = loop_.at(nextDialAt_, [this] { pump(); });
    }
}

void DialingDevices::pump()
{
    pumpTimer_ = 0;
    const Clock::time_point now = Clock::now();
    // A loop that wakes a little late starts what that moment held at once,
    // but a pace that fell far behind does not turn into a burst.
    nextDialAt_ = std::max(nextDialAt_, now - std::chrono::milliseconds(1));
    while (!waiting_.empty() && nextDialAt_ <= now) {
        const std::uint32_t index = waiting_.front();
        waiting_.pop_front();
        nextDialAt_ += dialInterval_;
        dial(index);
    }
    if (!waiting_.empty()) {
        pumpTimer_ = loop_.at(nextDialAt_, [this] { pump(); });
    }
}

void DialingDevices::dial(std::uint32_t index)
{
    Device& device = devices_[index];
    const net::Endpoint& address = host_[device.address];
    device.peerText = "tcp " + address.text();
    if (config_.devices != 0) {
        device.peerText += " device " + device.identity.id;
    }
    device.dialer = std::make_unique<net::LoopDialer>(
        loop_, [this, index](base::Result<int> connected) { dialed(index, std::move(connected)); });
    device.dialer->dial(address, std::chrono::milliseconds(SimulatorConfig::kDialTimeoutMs));
}

void DialingDevices::dialed(std::uint32_t index, base::Result<int> connected)
{
    Device& device = devices_[index];
    // The dialer is done with; it may be destroyed in its own handler.
    device.dialer.reset();
    if (!connected) {
        // The host's next address is tried at once (at the dials' pace).
        if (++device.address < host_.size()) {
            log_.write(device.peerText,
                       "cannot connect: " + connected.error().text() + "; trying the next address");
            queue(index);
            return;
        }
        device.address = 0;
        retryLater(index, "cannot connect: " + connected.error().text() + "; next try in ");
        return;
    }
    const int fd = *connected;
    log_.write(device.peerText, "connected from " + net::Endpoint::localOf(fd).text());
    // With TLS the waits start over only once the host is accepted: a host
    // refused is dialed again at the pace of one that is away.
    LoopClients::SecureHandler onSecure;
    if (config_.tls.on) {
        onSecure = [this, index](const tls::TlsSession& session) {
            base::Error refusal = config_.tls.judge(session);
            if (refusal.ok()) {
                devices_[index].schedule.connected();
            }
            return refusal;
        };
    } else {
        device.schedule.connected();
    }
    ++connected_;
    const bool served = clients_.add(
        fd, device.peerText, device.identity,
        [this, index] {
            --connected_;
            retryLater(index, "dialing again in ");
        },
        std::move(onSecure));
    if (!served) {
        --connected_;
        retryLater(index, "dialing again in ");
    }
}

void DialingDevices::retryLater(std::uint32_t index, const std::string& what)
{
    Device& device = devices_[index];
    const Clock::time_point at = device.schedule.next(Clock::now());
    log_.write(device.peerText, what + waitText(device.schedule.lastWait()));
    device.redial = loop_.at(at, [this, index] { queue(index); });
}

} // namespace devicetools
