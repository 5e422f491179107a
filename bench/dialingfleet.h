#pragma once

#include "socket/endpoint.h"
#include "socket/eventloop.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Devices that call their host, for benchmarks: `devices` TCP connections
// dialed from one loop thread, paced at `dialRate` a second. With events on,
// each device sends its event frame `eventsPerSecond` times a second (the
// first at a random point of the first period) and times the first line end
// that comes back after it: the answer's latency, measured at the device. A
// device that is not answered before its next event counts as unanswered.
//
// Threads: start() and stop() and the readers from the benchmark's thread;
// the loop thread does the rest. The counts may be read at any time.
class DialingFleet
{
public:
    struct Settings {
        net::Endpoint host;
        int devices = 1000;
        int dialRate = 2000;
        double eventsPerSecond = 0;
        // The event frame of device `index` (its bytes on the wire).
        std::string (*eventFrame)(int index) = nullptr;
    };

    explicit DialingFleet(Settings settings);
    ~DialingFleet();
    DialingFleet(const DialingFleet&) = delete;
    DialingFleet& operator=(const DialingFleet&) = delete;

    void start();
    void stop();

    int connected() const { return connected_.load(); }
    int failed() const { return failed_.load(); }
    long eventsSent() const { return sent_.load(); }
    long answered() const { return answered_.load(); }
    // Answer latencies so far, in milliseconds (a copy).
    std::vector<double> latenciesMs() const;
    // When the last device connected, from start().
    std::chrono::duration<double> allConnectedAfter() const;

private:
    struct Device;
    void dialNext();
    void connect(int index, int fd);
    void sendEvent(int index);

    Settings settings_;
    net::EventLoop loop_;
    std::vector<std::unique_ptr<Device>> devices_;
    int dialed_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::atomic<long long> lastConnectNs_{0};
    std::atomic<int> connected_{0}, failed_{0};
    std::atomic<long> sent_{0}, answered_{0};
    mutable std::mutex lock_;
    std::vector<double> latencies_;
    std::thread thread_;
};
