#pragma once

#include "faultmodes.h"
#include "replyrules.h"

#include "protocol/framedefaults.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devicetools
{

// Everything the device simulator is told on its command line.
struct SimulatorConfig {
    // Dotted IPv4 address or host name to listen on; the console is pointed
    // there to try it without a device.
    std::string listenHost{protocol::kLoopbackAddress};
    // TCP and UDP port; 0 lets the system pick one that is free for both.
    std::uint16_t port = protocol::kDefaultPort;
    // Devices served on the ports from `port` on, by one event loop (0: the
    // single device, a thread for each client). The limits below apply to
    // each device.
    static constexpr std::uint32_t kMaxDevices = 10000;
    std::uint32_t devices = 0;
    // Echo well-formed frames that no rule answers.
    bool echo = true;
    std::optional<ReplyRules> rules;
    FaultModes faults;

    // TCP clients served at a time; further ones are closed at once.
    static constexpr std::uint32_t kDefaultMaxClients = 8;
    static constexpr std::uint32_t kMaxClientsLimit = 64;
    std::uint32_t maxClients = kDefaultMaxClients;

    // Log every answer sent, too.
    bool verbose = false;

    // A TCP client that sends nothing for this long is closed (0: never); the
    // command line gives it in seconds.
    static constexpr std::uint32_t kDefaultIdleTimeoutMs = 60000;
    static constexpr std::uint32_t kMaxIdleTimeoutSeconds = 86400;
    std::uint32_t idleTimeoutMs = kDefaultIdleTimeoutMs;

    // Records of one peer logged a second; the rest are counted (0: all).
    static constexpr std::uint32_t kDefaultLogRate = 100;
    static constexpr std::uint32_t kMaxLogRate = 1000000;
    std::uint32_t logRate = kDefaultLogRate;
};

} // namespace devicetools
