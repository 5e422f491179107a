#include "delimiterset.h"

#include "settingsstore.h"

#include <algorithm>
#include <cstring>

namespace protocol
{

namespace
{

// Appends at most `count` characters of `text` to `buffer` at `used`, never
// writing past the last byte before the terminating zero's place.
void appendBounded(char* buffer, std::size_t capacity, std::size_t& used, std::string_view text,
                   std::size_t count)
{
    const std::size_t room = capacity - 1 - used;
    const std::size_t n = std::min({text.size(), count, room});
    std::memcpy(buffer + used, text.data(), n);
    used += n;
}

void setOneCharacter(char (&target)[2], std::uint8_t code)
{
    target[0] = static_cast<char>(code);
    target[1] = '\0';
}

} // namespace

DelimiterSet& DelimiterSet::instance()
{
    static DelimiterSet set;
    return set;
}

// A new set is already reset, so that a check running before the console's
// own reset still compares against the real codes and never against zeros.
DelimiterSet::DelimiterSet()
{
    resetDelimiters();
}

void DelimiterSet::resetDelimiters()
{
    modeFlag_.store(0, std::memory_order_relaxed);
    activeStart_[0] = activeEqual_[0] = activeDash_[0] = '\0';
    activeStart_[1] = activeEqual_[1] = activeDash_[1] = '\0';
    std::memset(frameText_, 0, sizeof frameText_);
    startCode_ = kStartCode;
    equalCode_ = kEqualCode;
    dashCode_ = kDashCode;
    startDisplay_ = kStartDisplay;
    equalDisplay_ = kEqualDisplay;
    dashDisplay_ = kDashDisplay;
}

void DelimiterSet::applyDelimiterSet()
{
    if (isRelease()) {
        setOneCharacter(activeStart_, startCode_);
        setOneCharacter(activeEqual_, equalCode_);
        setOneCharacter(activeDash_, dashCode_);
        return;
    }
    startDisplay_ = kStartDisplay;
    equalDisplay_ = kEqualDisplay;
    dashDisplay_ = kDashDisplay;
    setOneCharacter(activeStart_, startDisplay_);
    setOneCharacter(activeEqual_, equalDisplay_);
    setOneCharacter(activeDash_, dashDisplay_);
}

void DelimiterSet::switchDelimiterMode(std::string_view modeText, SettingsStore& settings)
{
    const std::int32_t flag = modeText == kReleaseModeText ? 1 : 0;
    setModeFlag(flag);
    // Stored at every call, also when the mode did not change, so the stored
    // value is always 0 or 1 after the first switch.
    settings.writeInt(kParamsSection, kReleaseKey, flag);
    applyDelimiterSet();
}

void DelimiterSet::composeCommandFrame(std::string_view media, std::string_view deviceId,
                                       std::string_view data, std::string_view command,
                                       std::string_view message)
{
    std::size_t used = 0;
    const auto put = [&](std::string_view text, std::size_t count) {
        appendBounded(frameText_, sizeof frameText_, used, text, count);
    };
    const auto whole = std::string_view::npos;
    put(activeStart(), whole);
    put(media, kMediaWidth);
    put(deviceId, kDeviceIdWidth);
    put(data, whole);
    put(activeEqual(), whole);
    put(command, kCommandWidth);
    put(activeDash(), whole);
    put(message, whole);
    std::memset(frameText_ + used, 0, sizeof frameText_ - used);
}

void DelimiterSet::frameDisplayForm()
{
    for (char& c : frameText_) {
        if (c == '\0') {
            return;
        }
        auto byte = static_cast<std::uint8_t>(c);
        if (byte == startCode_) {
            byte = startDisplay_;
        }
        if (byte == equalCode_) {
            byte = equalDisplay_;
        }
        const bool dash = byte == dashCode_;
        if (dash) {
            byte = dashDisplay_;
        }
        c = static_cast<char>(byte);
        if (dash) {
            return;
        }
    }
}

} // namespace protocol
