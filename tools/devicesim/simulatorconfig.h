#pragma once

#include "faultmodes.h"
#include "replyrules.h"
#include "nettext.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devicetools
{

// Everything the device simulator is told on its command line.
struct SimulatorConfig {
    static constexpr std::uint32_t kDefaultMaxClients = 8;
    static constexpr std::uint32_t kMaxClientsLimit = 64;

    // Dotted IPv4 address or host name to listen on.
    std::string listenHost{kDefaultHost};
    // TCP and UDP port; 0 lets the system pick one that is free for both.
    std::uint16_t port = kDefaultPort;
    // Echo well-formed frames that no rule answers.
    bool echo = true;
    std::optional<ReplyRules> rules;
    FaultModes faults;
    // TCP clients served at a time; further ones are closed at once.
    std::uint32_t maxClients = kDefaultMaxClients;
    // Log every answer sent, too.
    bool verbose = false;
};

} // namespace devicetools
