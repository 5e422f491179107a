#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace devicetools
{

// The two delimiter modes as they show on the wire: '[' '=' '-' or the codes 7, 8, 9.
enum class FrameMode { Demo, Release };

// What the console puts on the wire after a frame or a free text: CR LF and
// one NUL byte, in the same write.
inline constexpr std::string_view kWireTrailer{"\r\n\0", 3};
// The console assembles every block in a send buffer of this size, so a free
// text has at most 2045 characters.
inline constexpr std::size_t kSendBufferSize = 2048;
inline constexpr std::size_t kMaxTextLength = kSendBufferSize - kWireTrailer.size();

// A command frame as the console sends it: composed by the protocol layer
// (DelimiterSet::composeCommandFrame, so only the first 1, 2 and 3 characters
// of media, device id and command count) with the delimiters of `mode`, then
// CR LF and NUL. Uses a delimiter set of its own: any thread.
std::string frameOnWire(FrameMode mode, std::string_view media, std::string_view deviceId,
                        std::string_view data, std::string_view command, std::string_view message);

// A free text as the console sends it: the text, CR LF and NUL.
std::string textOnWire(std::string_view text);

} // namespace devicetools
