#include "floodpeer.h"

#include <cstdio>
#include <string_view>

FloodPeer::FloodPeer()
{
    for (int i = 0; payload_.size() < 64 * 1024; ++i) {
        char frame[64];
        std::snprintf(frame, sizeof frame, "[A01data%06d=CMD-flood message\r\n", i % 1000000);
        payload_ += frame;
    }
}

FloodPeer::~FloodPeer()
{
    join();
}

std::uint16_t FloodPeer::port() const
{
    return server_.listening() ? server_.port() : 0;
}

void FloodPeer::start(Clock::duration limit)
{
    thread_ = std::thread([this, limit] { run(Clock::now() + limit); });
}

void FloodPeer::join()
{
    if (thread_.joinable())
        thread_.join();
}

void FloodPeer::run(Clock::time_point deadline)
{
    if (!server_.accept(kAcceptLimit))
        return;
    const std::string_view payload(payload_);
    std::size_t at = 0;
    for (auto now = Clock::now(); sent_ < kByteCap && now < deadline; now = Clock::now()) {
        // Never waits past the deadline for room, so a console that stops
        // reading cannot hold the peer.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        const std::ptrdiff_t n = server_.sendSome(payload.substr(at), left);
        if (n < 0)
            break; // the console has gone
        sent_ += static_cast<std::uint64_t>(n);
        at = (at + static_cast<std::size_t>(n)) % payload_.size();
    }
    server_.closeConnection();
}
