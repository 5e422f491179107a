#include "dialingfleet.h"

#include "socket/loopdialer.h"
#include "socket/loopstream.h"

#include <random>

struct DialingFleet::Device {
    std::unique_ptr<net::LoopDialer> dialer;
    std::unique_ptr<net::LoopStream> stream;
    std::chrono::steady_clock::time_point eventAt{};
    bool waiting = false;
};

DialingFleet::DialingFleet(Settings settings) : settings_(std::move(settings))
{
    devices_.resize(static_cast<std::size_t>(settings_.devices));
}

DialingFleet::~DialingFleet()
{
    stop();
}

void DialingFleet::start()
{
    started_ = std::chrono::steady_clock::now();
    loop_.post([this] { dialNext(); });
    thread_ = std::thread([this] { (void)loop_.run(); });
}

void DialingFleet::stop()
{
    if (!thread_.joinable())
        return;
    loop_.post([this] { devices_.clear(); });
    loop_.quit();
    thread_.join();
}

void DialingFleet::dialNext()
{
    // A tenth of the second's dials at a time, every 100 ms.
    const int batch = std::max(1, settings_.dialRate / 10);
    for (int i = 0; i < batch && dialed_ < settings_.devices; ++i, ++dialed_) {
        const int index = dialed_;
        auto device = std::make_unique<Device>();
        device->dialer =
            std::make_unique<net::LoopDialer>(loop_, [this, index](base::Result<int> fd) {
                if (!fd) {
                    ++failed_;
                    return;
                }
                connect(index, *fd);
            });
        device->dialer->dial(settings_.host, net::EventLoop::Millis(10000));
        devices_[static_cast<std::size_t>(index)] = std::move(device);
    }
    if (dialed_ < settings_.devices)
        loop_.after(net::EventLoop::Millis(100), [this] { dialNext(); });
}

void DialingFleet::connect(int index, int fd)
{
    Device& device = *devices_[static_cast<std::size_t>(index)];
    device.stream = std::make_unique<net::LoopStream>(loop_, fd);
    const auto ok = device.stream->start(
        [this, index](std::string_view bytes) {
            Device& me = *devices_[static_cast<std::size_t>(index)];
            if (me.waiting && bytes.find('\n') != std::string_view::npos) {
                me.waiting = false;
                ++answered_;
                const double ms = std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - me.eventAt)
                                      .count();
                const std::lock_guard guard(lock_);
                latencies_.push_back(ms);
            }
        },
        [this](const base::Error&) {
            --connected_;
            ++failed_;
        });
    if (!ok.ok()) {
        ++failed_;
        return;
    }
    ++connected_;
    lastConnectNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now() - started_)
                         .count();
    if (settings_.eventsPerSecond > 0 && settings_.eventFrame != nullptr) {
        static thread_local std::mt19937 random(7);
        const double period = 1000.0 / settings_.eventsPerSecond;
        std::uniform_real_distribution<double> first(0, period);
        loop_.after(net::EventLoop::Millis(static_cast<long>(first(random))),
                    [this, index] { sendEvent(index); });
    }
}

void DialingFleet::sendEvent(int index)
{
    Device& device = *devices_[static_cast<std::size_t>(index)];
    if (!device.stream || !device.stream->open())
        return;
    device.eventAt = std::chrono::steady_clock::now();
    device.waiting = true;
    if (device.stream->send(settings_.eventFrame(index)).ok())
        ++sent_;
    const auto period =
        std::chrono::duration<double, std::milli>(1000.0 / settings_.eventsPerSecond);
    loop_.after(std::chrono::duration_cast<net::EventLoop::Millis>(period),
                [this, index] { sendEvent(index); });
}

std::vector<double> DialingFleet::latenciesMs() const
{
    const std::lock_guard guard(lock_);
    return latencies_;
}

std::chrono::duration<double> DialingFleet::allConnectedAfter() const
{
    return std::chrono::nanoseconds(lastConnectNs_.load());
}
