#pragma once

#include "protocol/commandframe.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace devicetools
{

// The device ids of simulated devices and the event frames they send
// unprompted (a card presented). Pure: any thread.
//
// Ids: device number n (from 1) gets n modulo kDistinctIds written in base 62
// with the digits, then A to Z, then a to z, two characters: device 1 is
// "01", 10 is "0A", 62 is "10", 3843 is "zz", 3844 is "00", and from 3845 on
// they repeat ("01" again).
class DeviceEvents
{
public:
    static constexpr std::string_view kDigits =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static constexpr std::uint32_t kDistinctIds =
        static_cast<std::uint32_t>(kDigits.size() * kDigits.size());
    static constexpr std::string_view kCommand = "EVT";
    static constexpr std::string_view kMedia = "C";
    static constexpr std::string_view kMessage = "card presented";

    static std::string deviceId(std::uint32_t number);
    // Ten digits: the device number, then the event's sequence number modulo
    // 100000, so that the cards of two devices never match.
    static std::string cardNumber(std::uint32_t number, std::uint64_t sequence);
    // The frame (kMedia, the id, the card as data, kCommand, kMessage) in
    // `mode`, with its line end: ready to send.
    static std::string eventBlock(std::string_view deviceId, std::string_view card,
                                  protocol::DelimiterMode mode);
};

} // namespace devicetools
