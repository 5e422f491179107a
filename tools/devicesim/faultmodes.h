#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace devicetools
{

// The simulator's fault modes, chosen on the command line, and what they do to
// an answer. Every mode is off by default. Read-only while the simulator
// runs: any thread.
struct FaultModes {
    // An answer that fails the console's frame check in both modes: its dash
    // and equal stand before its start, and no code 7 appears.
    static constexpr std::string_view kMalformedBlock{"-=[ malformed block\r\n\0", 22};
    static constexpr std::uint32_t kMaxSplitPoints = 32;
    static constexpr std::uint32_t kDefaultSplitPauseMs = 50;
    static constexpr std::uint32_t kMaxSplitPauseMs = 5000;
    static constexpr std::uint32_t kMaxCloseAfter = 1000000;
    static constexpr std::uint32_t kMaxFloodRate = 10000; // frames per second
    static constexpr std::uint32_t kDefaultFloodForMs = 1000;
    static constexpr std::uint32_t kMaxFloodForMs = 60000;

    // After this many well-formed frames of a connection (0: never), the
    // simulator answers the last one and then closes the TCP connection, or
    // sends an empty datagram to the UDP peer, which a connected client socket
    // reads as the end of the exchange.
    std::uint32_t closeAfterFrames = 0;
    // Every answer is replaced by kMalformedBlock.
    bool malformed = false;
    // A NUL byte is put in the middle of every answer (before its line end).
    bool nulInside = false;
    // Every answer is sent in pieces cut at these byte offsets (ascending),
    // with a pause between the pieces so that they arrive as separate blocks.
    std::vector<std::uint32_t> splitAt;
    std::uint32_t splitPauseMs = kDefaultSplitPauseMs;
    // After a connection's first well-formed frame is answered, frames go out
    // at this rate (per second; 0: no flood) for floodForMs milliseconds.
    std::uint32_t floodRate = 0;
    std::uint32_t floodForMs = kDefaultFloodForMs;

    // The answer with the malformed and NUL faults applied.
    std::string shape(std::string answer) const;
    // The bytes cut at splitAt (offsets at or beyond the end are ignored);
    // one piece when no split is asked for.
    std::vector<std::string_view> pieces(std::string_view bytes) const;
    // How many frames a flood sends: rate times duration, at least 1.
    std::uint32_t floodCount() const;
    // A short list of the modes that are on, for the start-up line; "none".
    std::string summary() const;
};

} // namespace devicetools
