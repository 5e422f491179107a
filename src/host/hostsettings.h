#pragma once

#include "socket/loopstream.h"

#include "protocol/commandframe.h"

#include <chrono>
#include <cstddef>

namespace host
{

// The bounds and times of a DeviceHost. A value.
struct HostSettings {
    static constexpr std::size_t kDefaultMaxDevices = 1000;
    static constexpr std::chrono::milliseconds kDefaultUdpIdle{60000};

    // Devices connected at once; one beyond is accepted, closed at once and
    // noted.
    std::size_t maxDevices = kDefaultMaxDevices;
    // A UDP device silent this long leaves the list.
    std::chrono::milliseconds udpIdle = kDefaultUdpIdle;
    // Each TCP device's output bound and write stall.
    net::LoopStream::Limits streamLimits;
    // With TLS: handshakes at once (more wait in the listen backlog), and
    // the time each may take.
    std::size_t maxHandshakes = 32;
    std::chrono::milliseconds handshakeLimit{10000};
    // Ended devices kept in the list (the oldest go first).
    std::size_t maxEndedRows = 1000;
    // How often the list the UI polls is brought up to date.
    std::chrono::milliseconds publishEvery{100};
    // The mode frames are decoded in for the last-frame column and answers.
    protocol::DelimiterMode mode = protocol::DelimiterMode::Demo;
};

} // namespace host
