#pragma once

#include "checkfile.h"

#include "socket/endpoint.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace check
{

// One device to check, as every report names it. Plain data.
struct Target {
    // As given: an IPv4 address, an IPv6 address (without brackets) or a
    // host name.
    std::string host;
    std::uint16_t port = 0;
    // Where to connect, with the port, in the order to try; empty until the
    // host is looked up, and when the look-up failed (lookUpProblem says why).
    std::vector<net::Endpoint> addresses;
    std::string lookUpProblem;
    // The SHA-256 fingerprint the device's TLS certificate must have
    // ("SHA256:AB:..."), e.g. from a targets file; empty: none pinned.
    std::string pin;
    std::string name;        // e.g. from a targets file; may be empty
    DeviceValues values;     // {host} {port} {name} and a targets file's other columns
    std::size_t csvLine = 0; // its line in a targets file, 0 when it came from elsewhere

    // "host:port" ("[v6]:port" for an IPv6 address), as shown in every
    // report; "host" alone for port 0.
    std::string label() const;
};

} // namespace check
