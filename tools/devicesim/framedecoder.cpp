#include "framedecoder.h"

#include "bytetext.h"

#include "protocol/delimiterset.h"

#include <cstdint>

namespace devicetools
{

namespace
{

using Delimiters = protocol::DelimiterSet;

constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kDelete = 0x7f;
// Offsets inside a frame: start, media, device id, then the data.
constexpr std::size_t kMediaAt = 1;
constexpr std::size_t kDeviceIdAt = kMediaAt + protocol::kMediaWidth;
constexpr std::size_t kDataAt = kDeviceIdAt + protocol::kDeviceIdWidth;
// From the equal delimiter to the dash delimiter.
constexpr std::size_t kEqualToDash = protocol::kCommandWidth + 1;

struct ModeDelimiters {
    protocol::DelimiterMode mode;
    std::uint8_t start, equal, dash;
};

constexpr ModeDelimiters kDemo{protocol::DelimiterMode::Demo, Delimiters::kStartDisplay,
                               Delimiters::kEqualDisplay, Delimiters::kDashDisplay};
constexpr ModeDelimiters kRelease{protocol::DelimiterMode::Release, Delimiters::kStartCode,
                                  Delimiters::kEqualCode, Delimiters::kDashCode};

bool printable(std::string_view text)
{
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < kFirstPrintable || byte == kDelete) {
            return false;
        }
    }
    return true;
}

std::uint8_t at(std::string_view record, std::size_t i)
{
    return static_cast<std::uint8_t>(record[i]);
}

} // namespace

std::string_view modeName(protocol::DelimiterMode mode)
{
    return mode == protocol::DelimiterMode::Release ? Delimiters::kReleaseModeText
                                                    : Delimiters::kDemoModeText;
}

std::optional<DecodedFrame> FrameDecoder::decode(std::string_view record)
{
    if (record.size() < kMinFrameLength || record.size() > kMaxFrameLength) {
        return std::nullopt;
    }
    const ModeDelimiters* mode = nullptr;
    if (at(record, 0) == kDemo.start) {
        mode = &kDemo;
    } else if (at(record, 0) == kRelease.start) {
        mode = &kRelease;
    } else {
        return std::nullopt;
    }
    // In DEMO mode every delimiter is printable, so the printable test alone
    // cannot keep a delimiter out of the fixed-width fields.
    const auto fixedField = [&](std::string_view field) {
        for (const char c : field) {
            const auto byte = static_cast<std::uint8_t>(c);
            if (byte == mode->start || byte == mode->equal || byte == mode->dash) {
                return false;
            }
        }
        return printable(field);
    };
    const std::string_view media = record.substr(kMediaAt, protocol::kMediaWidth);
    const std::string_view deviceId = record.substr(kDeviceIdAt, protocol::kDeviceIdWidth);
    if (!fixedField(media) || !fixedField(deviceId)) {
        return std::nullopt;
    }
    const std::size_t lastEqual = kDataAt + protocol::kDataMaxLength;
    for (std::size_t equal = kDataAt; equal <= lastEqual; ++equal) {
        const std::size_t dash = equal + kEqualToDash;
        if (dash >= record.size()) {
            break;
        }
        if (at(record, equal) != mode->equal || at(record, dash) != mode->dash) {
            continue;
        }
        const std::string_view data = record.substr(kDataAt, equal - kDataAt);
        const std::string_view command = record.substr(equal + 1, protocol::kCommandWidth);
        const std::string_view message = record.substr(dash + 1);
        if (!fixedField(command) || !printable(data) || !printable(message) ||
            message.size() > protocol::kMessageMaxLength) {
            continue;
        }
        return DecodedFrame{mode->mode,
                            {std::string(media), std::string(deviceId), std::string(data),
                             std::string(command), std::string(message)}};
    }
    return std::nullopt;
}

std::string FrameDecoder::describe(const DecodedFrame& frame)
{
    std::string out(modeName(frame.mode));
    const protocol::FrameFields& fields = frame.fields;
    out += " media=" + escapedAscii(fields.media);
    out += " id=" + escapedAscii(fields.deviceId);
    out += " data=\"" + escapedAscii(fields.data, true) + '"';
    out += " command=" + escapedAscii(fields.command);
    out += " message=\"" + escapedAscii(fields.message, true) + '"';
    return out;
}

std::string FrameDecoder::describeRaw(std::string_view record)
{
    return "- not a frame, " + std::to_string(record.size()) + " bytes: " + hexBytes(record) +
           " \"" + escapedAscii(record.substr(0, kHexDumpLimit), true) + '"';
}

} // namespace devicetools
