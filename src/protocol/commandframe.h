#pragma once

#include "base/error.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace protocol
{

// The texts a command frame is made of, as the operator entered them. Only the
// leading characters of media, device id and command count; data and message
// are taken up to their limits.
struct FrameFields {
    std::string media, deviceId, data, command, message;

    bool operator==(const FrameFields&) const = default;
};

// Which delimiters a frame carries: the printable '[' '=' '-' (Demo) or the
// control codes 7, 8, 9 (Release).
enum class DelimiterMode { Demo, Release };

// Field widths and limits of a command frame.
inline constexpr std::size_t kMediaWidth = 1;
inline constexpr std::size_t kDeviceIdWidth = 2;
inline constexpr std::size_t kCommandWidth = 3;
inline constexpr std::size_t kDataMaxLength = 36;
inline constexpr std::size_t kMessageMaxLength = 120;
// Three delimiters and the fields at their widths or limits.
inline constexpr std::size_t kFrameMaxLength =
    3 + kMediaWidth + kDeviceIdWidth + kDataMaxLength + kCommandWidth + kMessageMaxLength;

// Every frame or free text leaves as one write of at most this many bytes,
// closed by CR LF and one NUL byte.
inline constexpr std::size_t kSendBlockSize = 2048;
inline constexpr std::string_view kLineEnd{"\r\n\0", 3};
inline constexpr std::size_t kLineEndBytes = kLineEnd.size();
inline constexpr std::size_t kFreeTextMaxLength = kSendBlockSize - kLineEndBytes;
static_assert(kFrameMaxLength <= kFreeTextMaxLength);

// The frame: start, the first character of media, the first two of the device
// id, data (at most 36 characters), equal, the first three of the command,
// dash, message (at most 120 characters), with the delimiters of `mode`. A
// field shorter than its width goes in whole. At most kFrameMaxLength bytes.
// Pure: any thread.
std::string composeFrame(const FrameFields& fields, DelimiterMode mode);

// The printable form of a frame: every code 7 and 8 up to the first code 9, and
// that code 9, become '[', '=', '-'; the walk ends there (or at a NUL byte) and
// the rest is kept as it is. A Demo frame whose fields hold no control codes
// comes back unchanged. Pure: any thread.
std::string frameDisplayText(std::string_view frame);

// The bytes of one write: `text` cut to kFreeTextMaxLength bytes, then CR LF
// and NUL, so the block never exceeds kSendBlockSize. Pure: any thread.
std::string wireBlock(std::string_view text);

// Whether the texts are enough for a frame, checked in this order: command
// shorter than 3 characters, media empty, device id shorter than 2. The
// failure (BadInput) reads as the message the console shows for it.
[[nodiscard]] base::Error validateFrameFields(std::string_view media, std::string_view deviceId,
                                             std::string_view command);

} // namespace protocol
