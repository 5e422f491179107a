#include "framecheck.h"

#include <algorithm>
#include <cstring>

namespace protocol
{

namespace
{

// memchr over [from, end): nullptr when `from` is already at the end.
const std::uint8_t* findByte(const std::uint8_t* from, const std::uint8_t* end, std::uint8_t wanted)
{
    return static_cast<const std::uint8_t*>(
        std::memchr(from, wanted, static_cast<std::size_t>(end - from)));
}

} // namespace

FrameCheck::FrameCheck(const DelimiterSet& delimiters) : delimiters_(delimiters) {}

std::uint32_t FrameCheck::check(std::uint8_t* block, std::uint32_t length, std::uint32_t capacity)
{
    startFound_ = 0;
    equalFound_ = 0;
    dashFound_ = 0;
    scanPos_ = 0;
    if (block == nullptr) {
        return 0;
    }
    length = std::min(length, capacity);

    // The mode is read once: a block that arrives during a switch is examined
    // wholly in one mode. The codes and display characters are compile-time
    // constants, so the watcher never reads a field the UI thread may rewrite.
    const bool release = delimiters_.modeFlag() != 0;
    const std::uint8_t start = release ? DelimiterSet::kStartCode : DelimiterSet::kStartDisplay;
    const std::uint8_t equal = release ? DelimiterSet::kEqualCode : DelimiterSet::kEqualDisplay;
    const std::uint8_t dash = release ? DelimiterSet::kDashCode : DelimiterSet::kDashDisplay;

    // The first start, the first equal after it, the first dash after that: the
    // same positions a byte-by-byte scan finds (a replaced byte can never match
    // the next delimiter, as the three differ). The three stretches together
    // are one pass over the block that ends at the dash, each searched by
    // memchr many bytes at a time.
    const std::uint8_t* const end = block + length;
    const std::uint8_t* const startAt = findByte(block, end, start);
    if (startAt != nullptr) {
        startFound_ = 1;
        const std::uint8_t* const equalAt = findByte(startAt + 1, end, equal);
        if (equalAt != nullptr) {
            equalFound_ = 1;
            const std::uint8_t* const dashAt = findByte(equalAt + 1, end, dash);
            if (dashAt != nullptr) {
                dashFound_ = 1;
                scanPos_ = static_cast<std::uint32_t>(dashAt - block);
                if (release) {
                    block[startAt - block] = DelimiterSet::kStartDisplay;
                    block[equalAt - block] = DelimiterSet::kEqualDisplay;
                    block[dashAt - block] = DelimiterSet::kDashDisplay;
                }
                return length;
            }
        }
    }
    scanPos_ = length;

    std::memcpy(errorText_, kErrorText.data(), kErrorText.size());
    errorText_[kErrorText.size()] = '\0';
    if (capacity == 0) {
        return 0;
    }
    // The text and its zero, cut short only when the area is smaller.
    const std::uint32_t shown = std::min<std::uint32_t>(kErrorText.size(), capacity - 1);
    std::memcpy(block, errorText_, shown);
    block[shown] = '\0';
    return shown;
}

std::string_view FrameCheck::verdict() const
{
    if (startFound_ == 0)
        return "no frame: start delimiter missing";
    if (equalFound_ == 0)
        return "no frame: equal delimiter missing after the start";
    if (dashFound_ == 0)
        return "no frame: dash delimiter missing after the equal";
    return kFrameOkVerdict;
}

} // namespace protocol
