#pragma once

#include "faultmodes.h"
#include "replyrules.h"
#include "tlsoptions.h"

#include "protocol/commandframe.h"
#include "protocol/framedefaults.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devicetools
{

// Everything the device simulator is told on its command line.
struct SimulatorConfig {
    // Address (IPv4, IPv6 without brackets; "::" takes both families) or
    // host name to listen on; the console is pointed there to try it without
    // a device.
    std::string listenHost{protocol::kLoopbackAddress};
    // TCP and UDP port; 0 lets the system pick one that is free for both.
    std::uint16_t port = protocol::kDefaultPort;
    // Devices served on the ports from `port` on, or dialing out (0: the
    // single device). One event loop serves them all, however many. The
    // limits below apply to each device.
    static constexpr std::uint32_t kMaxDevices = 10000;
    std::uint32_t devices = 0;
    // The host to dial (an IPv4 or IPv6 address or a host name) and its port:
    // with a host, the devices dial out instead of listening.
    std::string connectHost;
    std::uint16_t connectPort = 0;
    // Dials started a second at most, over all devices.
    static constexpr std::uint32_t kDefaultDialRate = 2000;
    static constexpr std::uint32_t kMaxDialRate = 100000;
    std::uint32_t dialRate = kDefaultDialRate;
    // How long one dial may take.
    static constexpr std::uint32_t kDialTimeoutMs = 5000;

    // Event frames each device sends a second to each connection (0: none),
    // and their delimiter mode.
    static constexpr double kMinEventRate = 0.001;
    static constexpr double kMaxEventRate = 1000;
    double eventsPerSecond = 0;
    protocol::DelimiterMode eventMode = protocol::DelimiterMode::Demo;

    // TLS on every TCP connection (UDP stays plain). Listening: the
    // certificate and key files, or none (one is made at start); dialing:
    // also how the host's certificate is trusted (ca, pin, insecure) and a
    // client certificate.
    TlsOptions tls;
    // A TLS handshake not done by then closes the connection.
    static constexpr std::uint32_t kDefaultHandshakeTimeoutMs = 10000;
    std::uint32_t handshakeTimeoutMs = kDefaultHandshakeTimeoutMs;

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
