// One libFuzzer target for the code that takes bytes from the network or text
// from the operator: FrameCheck, the receive hook with displayData, and
// parsePort. The first input byte chooses what the rest is fed to. Every
// buffer is a heap block of exactly the size the code may use, so ASan sees
// any access beyond it; a result that differs from the byte-by-byte scan, or
// a shown text that is not the block up to its first NUL, aborts.

#include "countingviewwindow.h"
#include "referenceframecheck.h"

#include "protocol/messageviewchannel.h"
#include "socket/hostlookup.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

// The channel with its receive hook reachable; it never opens a socket.
class HookChannel : public protocol::MessageViewChannel
{
public:
    using MessageViewChannel::MessageViewChannel;
    ~HookChannel() override { stop(); }
    void receive(std::uint8_t* data, std::uint32_t length) { handleBlock(data, length); }
};

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void fuzzFrameCheck(const std::uint8_t* data, std::size_t size, bool release, bool exactArea)
{
    static protocol::DelimiterSet set;
    set.setModeFlag(release ? 1 : 0);
    protocol::FrameCheck check(set);

    const auto length =
        static_cast<std::uint32_t>(std::min<std::size_t>(size, net::SocketChannel::kDataCapacity));
    // The channel's read area, or an area no larger than the block itself.
    const std::uint32_t capacity = exactArea ? length : net::SocketChannel::kDataCapacity;
    std::vector<std::uint8_t> area(capacity);
    std::vector<std::uint8_t> expected(std::max<std::uint32_t>(capacity, 24));
    if (length > 0) {
        std::memcpy(area.data(), data, length);
        std::memcpy(expected.data(), data, length);
    }

    const std::uint32_t shown = check.check(area.data(), length, capacity);
    const ReferenceCheck want = referenceFrameCheck(expected.data(), length, release);
    require(check.startFound() == want.startFound && check.equalFound() == want.equalFound &&
            check.dashFound() == want.dashFound && check.scanPos() == want.scanPos);
    if (want.dashFound) {
        require(shown == length && std::memcmp(area.data(), expected.data(), length) == 0);
    } else if (capacity >= protocol::FrameCheck::kErrorFootprint) {
        require(shown == want.shown && std::memcmp(area.data(), expected.data(), 24) == 0);
    } else {
        require(capacity == 0 ? shown == 0 : shown == capacity - 1);
        require(capacity == 0 || area[shown] == 0);
    }
}

void fuzzReceive(const std::uint8_t* data, std::size_t size, bool release)
{
    static protocol::DelimiterSet set;
    static CountingViewWindow view;
    static HookChannel channel(set);
    channel.setView(&view);
    set.setModeFlag(release ? 1 : 0);

    const auto length =
        static_cast<std::uint32_t>(std::min<std::size_t>(size, net::SocketChannel::kDataCapacity));
    if (length == 0) {
        return; // the watcher never hands over an empty block
    }
    std::vector<std::uint8_t> area(net::SocketChannel::kDataCapacity);
    std::memcpy(area.data(), data, length);
    std::vector<std::uint8_t> expected(area);
    const ReferenceCheck want = referenceFrameCheck(expected.data(), length, release);
    const std::size_t untilNul =
        std::find(expected.begin(), expected.begin() + want.shown, 0) - expected.begin();

    const std::uint64_t before = view.bytes();
    channel.receive(area.data(), length);
    require(view.bytes() - before == untilNul);

    // displayData alone, on a block that has no room for a zero after it.
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[length]);
    std::memcpy(exact.get(), data, length);
    const std::uint64_t again = view.bytes();
    channel.displayData(exact.get(), length);
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(exact.get(), 0, length));
    require(view.bytes() - again ==
            static_cast<std::uint64_t>(nul != nullptr ? nul - exact.get() : length));
}

void fuzzParsePort(const std::uint8_t* data, std::size_t size)
{
    // Service texts are short; a zero-terminated copy of exactly that size.
    const std::size_t length = std::min<std::size_t>(size, 64);
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), data, length);
    text[length] = '\0';
    const std::uint16_t port = net::parsePort(text.get());
    if (length > 0 && text[0] >= '0' && text[0] <= '9') {
        // Leading digits: their number's low 16 bits, whatever follows.
        std::uint32_t expected = 0;
        for (std::size_t i = 0; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
            expected = (expected * 10 + static_cast<std::uint32_t>(text[i] - '0')) & 0xFFFFu;
        }
        require(port == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::uint8_t choice = data[0];
    ++data;
    --size;
    switch (choice % 5) {
    case 0:
        fuzzFrameCheck(data, size, false, (choice & 0x10) != 0);
        break;
    case 1:
        fuzzFrameCheck(data, size, true, (choice & 0x10) != 0);
        break;
    case 2:
        fuzzReceive(data, size, false);
        break;
    case 3:
        fuzzReceive(data, size, true);
        break;
    default:
        fuzzParsePort(data, size);
        break;
    }
    return 0;
}
