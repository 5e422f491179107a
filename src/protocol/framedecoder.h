#pragma once

#include "commandframe.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace protocol
{

// "DEMO" or "RELEASE", the names the console's mode box uses.
std::string_view modeName(DelimiterMode mode);

// One command frame as received: its mode and its fields (media 1 character,
// device id 2, data 0 to 36, command 3, message 0 to 120).
struct DecodedFrame {
    DelimiterMode mode = DelimiterMode::Demo;
    FrameFields fields;
};

// Recognises a command frame in one record (the bytes before its line end).
// Stateless; any thread.
class FrameDecoder
{
public:
    static constexpr std::size_t kMinFrameLength =
        3 + kMediaWidth + kDeviceIdWidth + kCommandWidth;           // 9
    static constexpr std::size_t kMaxFrameLength = kFrameMaxLength; // 165

    // The frame in `record`, or nothing when the record is not a well-formed
    // frame. Well-formed: the start delimiter of one mode first, media (1),
    // device id (2), data (0 to 36), the equal delimiter, command (3), the dash
    // delimiter and the message (0 to 120), all three delimiters of the same
    // mode, and every field byte printable (32 or above, not 127). As frames
    // carry no escaping, a data text may itself hold the equal character: the
    // first equal that is followed by a command and a dash ends the data.
    static std::optional<DecodedFrame> decode(std::string_view record);
};

} // namespace protocol
