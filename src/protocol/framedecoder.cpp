#include "framedecoder.h"

#include "delimiterset.h"

#include <cstdint>

namespace protocol
{

namespace
{

using Delimiters = DelimiterSet;

constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kDelete = 0x7f;
// Offsets inside a frame: start, media, device id, then the data.
constexpr std::size_t kMediaAt = 1;
constexpr std::size_t kDeviceIdAt = kMediaAt + kMediaWidth;
constexpr std::size_t kDataAt = kDeviceIdAt + kDeviceIdWidth;
// From the equal delimiter to the dash delimiter.
constexpr std::size_t kEqualToDash = kCommandWidth + 1;

struct ModeDelimiters {
    DelimiterMode mode;
    std::uint8_t start, equal, dash;
};

constexpr ModeDelimiters kDemo{DelimiterMode::Demo, Delimiters::kStartDisplay,
                               Delimiters::kEqualDisplay, Delimiters::kDashDisplay};
constexpr ModeDelimiters kRelease{DelimiterMode::Release, Delimiters::kStartCode,
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

std::string_view modeName(DelimiterMode mode)
{
    return mode == DelimiterMode::Release ? Delimiters::kReleaseModeText
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
    const std::string_view media = record.substr(kMediaAt, kMediaWidth);
    const std::string_view deviceId = record.substr(kDeviceIdAt, kDeviceIdWidth);
    if (!fixedField(media) || !fixedField(deviceId)) {
        return std::nullopt;
    }
    const std::size_t lastEqual = kDataAt + kDataMaxLength;
    for (std::size_t equal = kDataAt; equal <= lastEqual; ++equal) {
        const std::size_t dash = equal + kEqualToDash;
        if (dash >= record.size()) {
            break;
        }
        if (at(record, equal) != mode->equal || at(record, dash) != mode->dash) {
            continue;
        }
        const std::string_view data = record.substr(kDataAt, equal - kDataAt);
        const std::string_view command = record.substr(equal + 1, kCommandWidth);
        const std::string_view message = record.substr(dash + 1);
        if (!fixedField(command) || !printable(data) || !printable(message) ||
            message.size() > kMessageMaxLength) {
            continue;
        }
        return DecodedFrame{mode->mode,
                            {std::string(media), std::string(deviceId), std::string(data),
                             std::string(command), std::string(message)}};
    }
    return std::nullopt;
}

} // namespace protocol
