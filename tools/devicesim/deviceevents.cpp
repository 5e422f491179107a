#include "deviceevents.h"

#include <cstdio>

namespace devicetools
{

std::string DeviceEvents::deviceId(std::uint32_t number)
{
    const std::uint32_t value = number % kDistinctIds;
    const std::size_t base = kDigits.size();
    return {kDigits[value / base], kDigits[value % base]};
}

std::string DeviceEvents::cardNumber(std::uint32_t number, std::uint64_t sequence)
{
    constexpr std::uint64_t kSequences = 100000;
    char text[32];
    std::snprintf(text, sizeof text, "%05u%05u", static_cast<unsigned>(number % kSequences),
                  static_cast<unsigned>(sequence % kSequences));
    return text;
}

std::string DeviceEvents::eventBlock(std::string_view deviceId, std::string_view card,
                                     protocol::DelimiterMode mode)
{
    const protocol::FrameFields fields{std::string(kMedia), std::string(deviceId),
                                       std::string(card), std::string(kCommand),
                                       std::string(kMessage)};
    return protocol::wireBlock(protocol::composeFrame(fields, mode));
}

} // namespace devicetools
