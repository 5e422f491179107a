#pragma once

#include "loopclients.h"
#include "redialschedule.h"
#include "simulatorconfig.h"
#include "simulatorlog.h"

#include "socket/endpoint.h"
#include "socket/eventloop.h"
#include "socket/loopdialer.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace devicetools
{

// Devices that dial their host, as controllers set up "client only" do: each
// dials at start (a host name's addresses in turn, each tried once before a
// wait), tries again while the host is away (RedialSchedule: from
// 1 s doubling to 30 s, with jitter; each failure logged with the wait), and
// dials again once a connection ends (the waits starting at 1 s again). A
// connection made is served by LoopClients with the device's own id, like an
// accepted one. Dials start at most config.dialRate a second over all
// devices, so that a thousand reach the host within about a second without
// a burst. With TLS the device is the client: it goes on only with a host
// that config.tls accepts (trusted, pinned or --insecure); a host refused is
// logged with the reason and its fingerprint, and dialed again by the
// schedule, its waits growing as for a host that is away.
//
// Threads: the loop's thread only (start() also before the loop first runs);
// the loop, configuration, log and clients must outlive it.
class DialingDevices
{
public:
    using Clock = RedialSchedule::Clock;

    DialingDevices(net::EventLoop& loop, const SimulatorConfig& config, SimulatorLog& log,
                   LoopClients& clients, std::vector<net::Endpoint> host);
    ~DialingDevices();
    DialingDevices(const DialingDevices&) = delete;
    DialingDevices& operator=(const DialingDevices&) = delete;

    // Queues every device's first dial.
    void start();
    // Devices connected right now; any thread.
    std::uint32_t connected() const { return connected_.load(); }

private:
    struct Device {
        explicit Device(std::uint32_t seed) : schedule(seed) {}
        LoopClients::Device identity;
        std::string peerText;
        std::unique_ptr<net::LoopDialer> dialer;
        RedialSchedule schedule;
        net::EventLoop::TimerId redial = 0;
        // The host's address to dial next.
        std::size_t address = 0;
    };

    void queue(std::uint32_t index);
    // Starts the dials that are due by the pace, and sets the timer for the
    // next when some wait.
    void pump();
    void dial(std::uint32_t index);
    void dialed(std::uint32_t index, base::Result<int> connected);
    void retryLater(std::uint32_t index, const std::string& what);

    net::EventLoop& loop_;
    const SimulatorConfig& config_;
    SimulatorLog& log_;
    LoopClients& clients_;
    std::vector<net::Endpoint> host_;
    std::vector<Device> devices_;
    std::deque<std::uint32_t> waiting_;
    Clock::duration dialInterval_;
    Clock::time_point nextDialAt_{};
    net::EventLoop::TimerId pumpTimer_ = 0;
    std::atomic<std::uint32_t> connected_{0};
};

} // namespace devicetools
