#include "wireform.h"

#include "protocol/delimiterset.h"

namespace devicetools
{

std::string frameOnWire(FrameMode mode, std::string_view media, std::string_view deviceId,
                        std::string_view data, std::string_view command, std::string_view message)
{
    protocol::DelimiterSet delimiters;
    delimiters.setModeFlag(mode == FrameMode::Release ? 1 : 0);
    delimiters.applyDelimiterSet();
    delimiters.composeCommandFrame(media, deviceId, data, command, message);
    std::string block(delimiters.frameText());
    block += kWireTrailer;
    return block;
}

std::string textOnWire(std::string_view text)
{
    std::string block(text);
    block += kWireTrailer;
    return block;
}

} // namespace devicetools
