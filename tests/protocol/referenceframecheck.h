#pragma once

#include "protocol/delimiterset.h"

#include <cstdint>
#include <cstring>
#include <string_view>

// The frame check written as the byte-by-byte scan it must match, for
// differential tests and fuzzing. `block` needs room for 24 bytes.
struct ReferenceCheck {
    std::uint32_t shown = 0;
    int startFound = 0, equalFound = 0, dashFound = 0;
    std::uint32_t scanPos = 0;
};

inline ReferenceCheck referenceFrameCheck(std::uint8_t* block, std::uint32_t length, bool release)
{
    using protocol::DelimiterSet;
    const std::uint8_t start = release ? DelimiterSet::kStartCode : DelimiterSet::kStartDisplay;
    const std::uint8_t equal = release ? DelimiterSet::kEqualCode : DelimiterSet::kEqualDisplay;
    const std::uint8_t dash = release ? DelimiterSet::kDashCode : DelimiterSet::kDashDisplay;
    ReferenceCheck r;
    for (; r.scanPos < length; ++r.scanPos) {
        std::uint8_t& byte = block[r.scanPos];
        if (!r.startFound && byte == start) {
            r.startFound = 1;
            if (release) {
                byte = DelimiterSet::kStartDisplay;
            }
        }
        if (r.startFound && !r.equalFound && byte == equal) {
            r.equalFound = 1;
            if (release) {
                byte = DelimiterSet::kEqualDisplay;
            }
        }
        if (r.startFound && r.equalFound && byte == dash) {
            r.dashFound = 1;
            if (release) {
                byte = DelimiterSet::kDashDisplay;
            }
            break;
        }
    }
    if (r.dashFound) {
        r.shown = length;
        return r;
    }
    constexpr std::string_view kError = "Error received data !\r\n";
    std::memcpy(block, kError.data(), kError.size() + 1);
    r.shown = kError.size();
    return r;
}
