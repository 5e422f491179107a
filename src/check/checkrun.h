#pragma once

#include "checkfile.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace check
{

// How one step ended.
enum class StepOutcome { Passed, Failed };

// One step's result, reported when it ends (a step repeated N times reports N
// results, `iteration` 1..N; a file repeated reports its steps again with
// `round` 1..R).
struct StepResult {
    std::size_t stepIndex = 0; // in CheckFile::steps
    std::string stepName;      // the step's name, or a made-up one ("step 3: expect")
    std::uint32_t round = 1;
    std::uint32_t iteration = 1;
    StepOutcome outcome = StepOutcome::Passed;
    std::string reason;        // why it failed; empty when passed
    std::string got;           // what came instead (escaped for people); may be empty
    Millis answerTime{0};      // expect steps: from the step's start to its answer
    Millis endedAt{0};         // the time it ended
};

// Runs one check file against one device, without any I/O: the caller feeds it
// the bytes received and the time, and takes what to send and the results.
// Times are milliseconds on the caller's monotonic clock.
//
// A run: start(now); then, in any order and as often as needed, received()
// and advance(); after each, takeSends() gives the blocks to write (each one
// whole write, exactly as the console writes it) and takeResults() the steps
// that ended. nextDeadline() says when advance() must be called at the latest.
// The run ends when every step has ended (passed or not: after the first
// failed step the rest are not run) or when abort() is called.
//
// One thread; no allocation limits beyond the file's own bounds (received
// bytes are kept only up to a bounded tail for matching and reporting).
class CheckRun
{
public:
    CheckRun(const CheckFile& file, DeviceValues values);

    void start(Millis now);
    // Bytes received from the device (any split: frames over several calls or
    // several frames in one are matched whole).
    void received(std::string_view bytes, Millis now);
    // Lets waits and time-outs end.
    void advance(Millis now);
    // The connection failed or ended, or the operator stopped: the step in
    // progress fails with `reason`, the run ends.
    void abort(std::string_view reason, Millis now);

    // Blocks to write now, in order; each is one whole write.
    std::vector<std::string> takeSends();
    std::vector<StepResult> takeResults();
    // When advance() must be called at the latest; nothing when the run waits
    // for nothing but bytes (or has ended).
    std::optional<Millis> nextDeadline() const;

    bool finished() const;
    bool passed() const; // finished, and every step passed
};

} // namespace check
