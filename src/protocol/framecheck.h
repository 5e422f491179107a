#pragma once

#include "delimiterset.h"

#include <cstdint>
#include <string_view>

namespace protocol
{

// The check every received block passes before it is shown: the start, equal
// and dash delimiters must stand in this order. One instance per caller; it
// holds the scan state, which is reset at the start of every block. Runs on the
// watcher thread; reads the mode of the delimiter set it was given (which must
// outlive it) once per block, allocates nothing, and touches only the block
// and its own state.
class FrameCheck
{
public:
    static constexpr std::string_view kErrorText = "Error received data !\r\n"; // 23 characters
    static constexpr std::uint32_t kErrorTextSize = 512;
    // Bytes the error text takes in the block: the text and its zero.
    static constexpr std::uint32_t kErrorFootprint = kErrorText.size() + 1;

    explicit FrameCheck(const DelimiterSet& delimiters);

    const DelimiterSet& delimiters() const { return delimiters_; }

    // Checks `length` bytes of `block` (the whole block, NUL bytes included)
    // and returns how many bytes to show. The delimiters sought are the first
    // start, the first equal after it and the first dash after that. All three
    // found: `length`, and in RELEASE mode exactly those three bytes were
    // replaced by '[' '=' '-'. Otherwise the error text and its zero were
    // copied over the start of the block and the result is 23. `capacity` is
    // the size of the writable area at `block` (at least `length`; a longer
    // `length` is cut to it). Nothing is read or written past `capacity`: in an
    // area smaller than 24 bytes the error text is cut to capacity - 1
    // characters and its zero, and that shorter length is returned (0 for
    // capacity 0 or no block). A failing block is changed only by the error
    // text: no delimiter in it is replaced.
    std::uint32_t check(std::uint8_t* block, std::uint32_t length, std::uint32_t capacity);

    // The scan state of the last check: which delimiters were found, and where
    // the scan ended (the dash's position when all three were found, else the
    // length checked).
    std::int32_t startFound() const { return startFound_; }
    std::int32_t equalFound() const { return equalFound_; }
    std::int32_t dashFound() const { return dashFound_; }
    std::uint32_t scanPos() const { return scanPos_; }
    // The last check's verdict in words, for a record of the traffic:
    // kFrameOkVerdict, or which delimiter was missing.
    std::string_view verdict() const;

    static constexpr std::string_view kFrameOkVerdict = "frame ok";

private:
    const DelimiterSet& delimiters_;
    std::int32_t startFound_ = 0;
    std::int32_t equalFound_ = 0;
    std::int32_t dashFound_ = 0;
    std::uint32_t scanPos_ = 0;
    char errorText_[kErrorTextSize] = {};
};

} // namespace protocol
