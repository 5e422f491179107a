#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

// A device that calls in, for the checker's listening tests: on a thread of
// its own it connects to 127.0.0.1:port (TCP, or a UDP socket connected
// there), sends one event frame carrying `id` (so that a device with nothing
// to say yet still introduces itself), then echoes what it receives, each
// piece or datagram as it came, until the checker closes or `limit` passes.
class DialingDevice
{
public:
    DialingDevice(std::uint16_t port, bool udp, const std::string& id,
                  std::chrono::milliseconds limit);
    ~DialingDevice();
    DialingDevice(const DialingDevice&) = delete;
    DialingDevice& operator=(const DialingDevice&) = delete;

private:
    void run(std::uint16_t port, bool udp, std::string id);

    std::chrono::steady_clock::time_point deadline_;
    std::atomic<bool> quit_{false};
    std::thread thread_;
};
