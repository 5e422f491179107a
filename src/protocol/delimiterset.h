#pragma once

#include "commandframe.h"

#include <atomic>
#include <cstdint>
#include <string_view>

namespace protocol
{

// The delimiter mode the console sends and checks frames in, and the fixed
// codes and display characters of the three delimiters.
//
// One process-wide instance (instance()); tests and tools may make their own.
// Only the UI thread (or the one thread that owns a private set) writes the
// mode; FrameCheck reads modeFlag() on the watcher thread. modeFlag is one
// lock-free atomic 32-bit word, and the codes are compile-time constants, so
// the watcher never reads anything the writer may be changing.
class DelimiterSet
{
public:
    // Wire codes of the delimiters in RELEASE mode.
    static constexpr std::uint8_t kStartCode = 7;
    static constexpr std::uint8_t kEqualCode = 8;
    static constexpr std::uint8_t kDashCode = 9;
    // Display characters, which are also the wire characters in DEMO mode.
    static constexpr std::uint8_t kStartDisplay = '[';
    static constexpr std::uint8_t kEqualDisplay = '=';
    static constexpr std::uint8_t kDashDisplay = '-';
    // The mode name that selects RELEASE (exact, case-sensitive), and the other.
    static constexpr std::string_view kReleaseModeText = "RELEASE";
    static constexpr std::string_view kDemoModeText = "DEMO";

    static DelimiterSet& instance();

    // A new set is in DEMO mode.
    DelimiterSet() = default;
    DelimiterSet(const DelimiterSet&) = delete;
    DelimiterSet& operator=(const DelimiterSet&) = delete;

    // modeFlag = 1 when `modeText` is exactly "RELEASE", else 0; returns the
    // new flag (for the caller to remember).
    std::int32_t switchDelimiterMode(std::string_view modeText);

    // 0 DEMO, any other value RELEASE. Safe to read on any thread.
    std::int32_t modeFlag() const { return modeFlag_.load(std::memory_order_relaxed); }
    // Writer thread: the value loaded from the settings at start, used unchanged.
    void setModeFlag(std::int32_t flag) { modeFlag_.store(flag, std::memory_order_relaxed); }
    bool isRelease() const { return modeFlag() != 0; }
    // The mode as composeFrame() takes it. Safe to read on any thread.
    DelimiterMode mode() const
    {
        return isRelease() ? DelimiterMode::Release : DelimiterMode::Demo;
    }

private:
    std::atomic<std::int32_t> modeFlag_{0};
};
static_assert(std::atomic<std::int32_t>::is_always_lock_free);

} // namespace protocol
