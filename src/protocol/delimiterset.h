#pragma once

#include "commandframe.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace protocol
{

class SettingsStore;

// The three frame delimiters, their two modes and the last composed frame.
//
// One process-wide instance (instance()); tests may make their own. Everything
// but modeFlag() is written and read on the UI thread only. FrameCheck reads
// only modeFlag() on the watcher thread, together with the fixed codes and
// display characters as the constants below (the fields hold the same values
// from construction on, but applyDelimiterSet() rewrites them on the UI thread);
// modeFlag is one lock-free atomic 32-bit word that only the UI thread writes.
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
    // frameText: at most 513 characters and the zero.
    static constexpr std::size_t kFrameTextSize = 514;
    // Field widths of a command frame (see commandframe.h).
    static constexpr std::size_t kMediaWidth = protocol::kMediaWidth;
    static constexpr std::size_t kDeviceIdWidth = protocol::kDeviceIdWidth;
    static constexpr std::size_t kCommandWidth = protocol::kCommandWidth;
    static constexpr std::size_t kDataMaxLength = protocol::kDataMaxLength;
    static constexpr std::size_t kMessageMaxLength = protocol::kMessageMaxLength;
    // The mode name that selects RELEASE (exact, case-sensitive), and the other.
    static constexpr std::string_view kReleaseModeText = "RELEASE";
    static constexpr std::string_view kDemoModeText = "DEMO";

    static DelimiterSet& instance();

    // A new set is already reset (mode DEMO, no active delimiters yet).
    DelimiterSet();
    DelimiterSet(const DelimiterSet&) = delete;
    DelimiterSet& operator=(const DelimiterSet&) = delete;

    // Clears everything (mode DEMO, active delimiters and frame empty) and sets
    // the wire codes and display characters.
    void resetDelimiters();
    // Sets the active delimiters from modeFlag: the codes 7, 8, 9 in RELEASE,
    // '[' '=' '-' in DEMO.
    void applyDelimiterSet();
    // modeFlag = 1 when `modeText` is exactly "RELEASE", else 0; stores it as
    // Params/bRelease in `settings` at every call; then applyDelimiterSet().
    void switchDelimiterMode(std::string_view modeText, SettingsStore& settings);

    // Kept for callers that still compose in place; new code uses the values
    // of composeFrame() and frameDisplayText().
    //
    // Writes the frame into frameText: start, the first character of media, the
    // first two of deviceId, data whole, equal, the first three of command,
    // dash, message whole, with the active delimiters as they stand. The copy
    // is bounded by frameText's size: anything past 513 characters is cut.
    void composeCommandFrame(std::string_view media, std::string_view deviceId,
                             std::string_view data, std::string_view command,
                             std::string_view message);
    // Rewrites frameText into its printable form: every code 7 and 8 up to the
    // first code 9 and that code 9 become '[', '=', '-'; the walk ends there.
    void frameDisplayForm();

    // 0 DEMO, any other value RELEASE. Safe to read on any thread.
    std::int32_t modeFlag() const { return modeFlag_.load(std::memory_order_relaxed); }
    // UI thread: the value loaded from the settings at start, used unchanged.
    void setModeFlag(std::int32_t flag) { modeFlag_.store(flag, std::memory_order_relaxed); }
    bool isRelease() const { return modeFlag() != 0; }

    std::uint8_t startCode() const { return startCode_; }
    std::uint8_t equalCode() const { return equalCode_; }
    std::uint8_t dashCode() const { return dashCode_; }
    std::uint8_t startDisplay() const { return startDisplay_; }
    std::uint8_t equalDisplay() const { return equalDisplay_; }
    std::uint8_t dashDisplay() const { return dashDisplay_; }
    // The active delimiters, each one character ("" after a reset).
    std::string_view activeStart() const { return activeStart_; }
    std::string_view activeEqual() const { return activeEqual_; }
    std::string_view activeDash() const { return activeDash_; }
    // The last composed frame up to its first zero (its display form after
    // frameDisplayForm()).
    std::string_view frameText() const { return frameText_; }

private:
    std::atomic<std::int32_t> modeFlag_{0};
    std::uint8_t startCode_ = 0, equalCode_ = 0, dashCode_ = 0;
    std::uint8_t startDisplay_ = 0, equalDisplay_ = 0, dashDisplay_ = 0;
    char activeStart_[2] = {}, activeEqual_[2] = {}, activeDash_[2] = {};
    char frameText_[kFrameTextSize] = {};
};
static_assert(std::atomic<std::int32_t>::is_always_lock_free);

} // namespace protocol
