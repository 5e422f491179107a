#include "commandframe.h"

#include "delimiterset.h"

namespace protocol
{

namespace
{

constexpr std::string_view kMissingCommandText = "Error Command, have to be added !";
constexpr std::string_view kMissingMediaText = "Error Media, have to be added !";
constexpr std::string_view kMissingDeviceIdText = "Error Device Id, have to be added !";

char asChar(std::uint8_t code)
{
    return static_cast<char>(code);
}

} // namespace

std::string composeFrame(const FrameFields& fields, DelimiterMode mode)
{
    const bool release = mode == DelimiterMode::Release;
    const auto leading = [](const std::string& text, std::size_t count) {
        return std::string_view(text).substr(0, count);
    };
    std::string frame;
    frame.reserve(kFrameMaxLength);
    frame += asChar(release ? DelimiterSet::kStartCode : DelimiterSet::kStartDisplay);
    frame += leading(fields.media, kMediaWidth);
    frame += leading(fields.deviceId, kDeviceIdWidth);
    frame += leading(fields.data, kDataMaxLength);
    frame += asChar(release ? DelimiterSet::kEqualCode : DelimiterSet::kEqualDisplay);
    frame += leading(fields.command, kCommandWidth);
    frame += asChar(release ? DelimiterSet::kDashCode : DelimiterSet::kDashDisplay);
    frame += leading(fields.message, kMessageMaxLength);
    return frame;
}

std::string frameDisplayText(std::string_view frame)
{
    std::string text(frame);
    for (char& c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte == 0) {
            break;
        }
        if (byte == DelimiterSet::kStartCode) {
            c = asChar(DelimiterSet::kStartDisplay);
        } else if (byte == DelimiterSet::kEqualCode) {
            c = asChar(DelimiterSet::kEqualDisplay);
        } else if (byte == DelimiterSet::kDashCode) {
            c = asChar(DelimiterSet::kDashDisplay);
            break;
        }
    }
    return text;
}

std::string wireBlock(std::string_view text)
{
    std::string block(text.substr(0, kFreeTextMaxLength));
    block += kLineEnd;
    return block;
}

base::Error validateFrameFields(std::string_view media, std::string_view deviceId,
                                std::string_view command)
{
    const auto missing = [](std::string_view text) {
        return base::Error::input(base::Fault::BadInput, {}, std::string(text));
    };
    if (command.size() < kCommandWidth) {
        return missing(kMissingCommandText);
    }
    if (media.size() < kMediaWidth) {
        return missing(kMissingMediaText);
    }
    if (deviceId.size() < kDeviceIdWidth) {
        return missing(kMissingDeviceIdText);
    }
    return {};
}

} // namespace protocol
