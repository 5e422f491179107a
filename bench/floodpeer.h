#pragma once

#include "loopbacktcpserver.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

// The device of the flood benchmarks: listens on 127.0.0.1 and, once the
// console has connected, sends frames ("[A01dataNNNNNN=CMD-flood message\r\n",
// numbered) back to back until its time is up, the console goes away, or
// kByteCap bytes went out. Never talks to any other address. start() and
// join() on one thread; bytesSent() from any.
class FloodPeer
{
public:
    using Clock = std::chrono::steady_clock;
    // How long the peer waits for the console to connect.
    static constexpr std::chrono::seconds kAcceptLimit{5};
    static constexpr std::uint64_t kByteCap = 1ULL << 34; // 16 GiB

    FloodPeer();
    ~FloodPeer();
    FloodPeer(const FloodPeer&) = delete;
    FloodPeer& operator=(const FloodPeer&) = delete;

    // 0 when the peer could not listen.
    std::uint16_t port() const;
    std::string portText() const { return std::to_string(port()); }
    std::uint64_t bytesSent() const { return sent_; }

    // Accepts one connection and floods it for at most `limit` from now.
    void start(Clock::duration limit);
    void join();

private:
    void run(Clock::time_point deadline);

    LoopbackTcpServer server_;
    std::string payload_;
    std::thread thread_;
    std::atomic<std::uint64_t> sent_{0};
};
