#pragma once

#include "checkfile.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace check
{

// One device to check, as every report names it. Plain data.
struct Target {
    std::string host;          // as given: a dotted IPv4 address or a host name
    std::uint32_t address = 0; // host order once resolved; kUnresolved before or when not found
    std::uint16_t port = 0;
    std::string name;        // e.g. from a targets file; may be empty
    DeviceValues values;     // {host} {port} {name} and a targets file's other columns
    std::size_t csvLine = 0; // its line in a targets file, 0 when it came from elsewhere

    static constexpr std::uint32_t kUnresolved = 0xFFFFFFFFu;

    // "host:port", as shown in every report; "host" alone for port 0.
    std::string label() const;
};

} // namespace check
