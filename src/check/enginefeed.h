#pragma once

#include <chrono>
#include <cstdint>

namespace check
{

// What every driver feeds the engines (CheckRun, AnswerEngine) besides the
// bytes, and the one time they all count in.

// The monotonic clock the engines' times are read on: it never jumps with
// the wall clock. Spans between its points are std::chrono durations; results
// and reports give them in whole milliseconds (Millis).
using Clock = std::chrono::steady_clock;
using Instant = Clock::time_point;

// How a piece of received bytes stands to the device's records.
enum class Chunk : std::uint8_t {
    Stream,   // bytes of a stream (TCP): records end at line ends only
    Datagram, // one whole datagram (UDP): its end ends a record, line end or not
};

} // namespace check
