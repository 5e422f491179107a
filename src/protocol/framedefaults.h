#pragma once

#include "commandframe.h"

#include <cstdint>
#include <string_view>

namespace protocol
{

// The one place for the values the console and the tools start from.
inline constexpr std::uint16_t kDefaultPort = 21210;
inline constexpr std::string_view kDefaultPortText = "21210";
inline constexpr std::string_view kDefaultServerAddress = "192.168.0.1";
inline constexpr std::string_view kLoopbackAddress = "127.0.0.1";

// The frame fields the console shows when it opens.
inline FrameFields defaultFrameFields()
{
    return FrameFields{"B", "A1", "39123439", "ENT", "Message / Description"};
}

} // namespace protocol
