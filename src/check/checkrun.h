#pragma once

#include "checkfile.h"
#include "enginefeed.h"
#include "stepaction.h"

#include "protocol/recordsplitter.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace check
{

// How one step ended.
enum class StepOutcome { Passed, Failed };

// Why a step failed.
enum class StepFailure : std::uint8_t {
    None,             // it passed
    NotSendable,      // a send's block could not be made (a placeholder without
                      // a value, a field off its width)
    BadValues,        // the device's values do not fit a step (a placeholder
                      // without a value, a value too long once filled)
    NoAnswer,         // an expect's time ran out and nothing came
    NoMatchingAnswer, // an expect's time ran out; what came did not match (`got`)
    Ended,            // the run was ended under it (abort(): the connection
                      // failed or ended, the operator stopped)
};

// One step's result, reported when it ends (a step repeated N times reports N
// results, `iteration` 1..N; a file repeated reports its steps again with
// `round` 1..R).
struct StepResult {
    std::size_t stepIndex = 0; // in CheckFile::steps
    std::string stepName;      // the step's name, or a made-up one ("step 3: expect")
    std::uint32_t round = 1;
    std::uint32_t iteration = 1;
    StepOutcome outcome = StepOutcome::Passed;
    StepFailure failure = StepFailure::None;
    // Why it failed, for people; empty when passed. A time-out reads "no
    // answer within 1000 ms", or "no matching answer within 1000 ms" (what
    // came is in `got`, never in the reason).
    std::string reason;
    // What came instead, escaped for people: each record the step passed
    // over in quotes (bytes as the Traffic window shows them), at most a few,
    // then how many more. Empty when nothing came.
    std::string got;
    Millis answerTime{0}; // expect steps: from the step's start to its answer
    Instant endedAt;      // the time it ended
};

// Runs one check file against one device, without any I/O: the caller feeds it
// the bytes received, how they came (a stream's or a whole datagram) and the
// time, and takes what to send and the results. Times are points on the
// monotonic clock (Instant), never earlier than the time fed before.
//
// A run: start(now); then, in any order and as often as needed, received()
// and advance(); after each, takeSends() gives the blocks to write (each one
// whole write, exactly as the console writes it) and takeResults() the steps
// that ended. nextDeadline() says when advance() must be called at the latest.
// The run ends when every step has ended (passed or not: after the first
// failed step the rest are not run) or when abort() is called.
//
// Received bytes are cut into records at line ends (CR LF NUL, CR LF, LF,
// NUL), and at the end of each datagram. Records wait, in order, for the next
// expect step, also those that came during sends and waits; an expect takes
// them one by one and gives up those that do not match (they are what came
// instead). A frame expect matches a record that passes the console's frame
// check in the file's mode and decodes as a frame of that mode with fields
// matching the matchers; a text expect matches a record containing the text,
// or the start of a record not yet ended, and then the rest of that record is
// passed over. Placeholders are filled from the device's values, once per
// step; every step is checked against those values once, when the run is made
// (valuesError()), and a device they do not fit fails at start(), with nothing
// sent. An answer arriving at an expect's deadline is in time when received()
// brings it; advance() at the deadline ends the expect.
//
// One thread; no allocation limits beyond the file's own bounds (received
// records waiting for an expect are kept only up to kMaxWaitingRecords and
// kMaxWaitingBytes, the oldest dropped first).
class CheckRun
{
public:
    static constexpr std::size_t kMaxWaitingRecords = 64;
    static constexpr std::size_t kMaxWaitingBytes = 64 * 1024;
    // Records named in a result's `got`, each cut to kMaxGotRecordLength bytes.
    static constexpr std::size_t kMaxGotRecords = 5;
    static constexpr std::size_t kMaxGotRecordLength = 200;
    // Steps ended in one call at most; a run with more to do at once asks
    // for advance() at the same time (nextDeadline() is now).
    static constexpr std::size_t kMaxStepsPerCall = 256;

    // Runs its own copy of `file`. `values` are the device's; the file's
    // default values fill what they lack.
    CheckRun(const CheckFile& file, DeviceValues values);
    // Shares `file` (not null) with other runs, e.g. one per device of many.
    CheckRun(std::shared_ptr<const CheckFile> file, DeviceValues values);

    void start(Instant now);
    // Bytes received from the device. A stream's may be split anywhere
    // (frames over several calls or several frames in one are matched
    // whole); a datagram's end also ends a record.
    void received(std::string_view bytes, Chunk chunk, Instant now);
    // Lets waits and time-outs end.
    void advance(Instant now);
    // The connection failed or ended, or the operator stopped: the step in
    // progress fails (StepFailure::Ended) with `reason`, the run ends.
    void abort(std::string_view reason, Instant now);

    // Blocks to write now, in order; each is one whole write.
    std::vector<std::string> takeSends();
    // The same, each with whether a frame step made it (a console echoes
    // those).
    struct Send {
        std::string block;
        bool frame = false;
    };
    std::vector<Send> takeSendsWithKind();
    std::vector<StepResult> takeResults();
    // When advance() must be called at the latest; nothing when the run waits
    // for nothing but bytes (or has ended).
    std::optional<Instant> nextDeadline() const;

    bool finished() const;
    bool passed() const; // finished, and every step passed
    // Why the device's values do not fit the file (checkDeviceValues(),
    // judged once, when the run is made); start() then fails at once.
    const base::Error& valuesError() const { return unfit_; }

private:
    struct Record {
        std::string bytes;
        Instant at;
    };

    const Step& step() const { return file_->steps[stepIndex_]; }
    // Runs steps from the current one until one has to wait for bytes or
    // time. `deadlineInclusive`: an expect whose deadline is `now` has ended.
    void proceed(Instant now, bool deadlineInclusive);
    void beginStep(Instant now);
    // Ends the current step and moves to the next (or ends the run); it
    // passed when `failure` is None.
    void endStep(StepFailure failure, std::string reason, Millis answerTime, Instant now);
    // Takes waiting records for the current expect; when one matched, the
    // time it came.
    std::optional<Instant> takeMatch();
    bool recordMatches(std::string_view record) const;
    void addRecord(std::string_view record, Instant now);
    void passOver(std::string_view record);
    // The records the current expect passed over, for a result's `got`.
    std::string gotText() const;
    std::string stepName() const;
    const std::string* value(std::string_view name) const;

    std::shared_ptr<const CheckFile> file_;
    DeviceValues values_;
    base::Error unfit_;
    protocol::RecordSplitter splitter_;
    std::deque<Record> waiting_;
    std::size_t waitingBytes_ = 0;
    // The record not yet ended already matched a text expect.
    bool pendingTaken_ = false;
    Instant lastReceived_;

    bool started_ = false;
    bool finished_ = false;
    bool failed_ = false;
    bool inStep_ = false;
    std::size_t stepIndex_ = 0;
    std::uint32_t round_ = 1;
    std::uint32_t iteration_ = 1;
    Instant stepStart_;
    Instant deadline_;
    Instant resumeAt_; // between steps: when the next one is to begin
    // The current expect with the device's values filled in.
    FilledExpect expectFill_;
    // The records the current expect passed over.
    std::vector<std::string> passedOver_;
    std::size_t passedOverCount_ = 0;

    std::vector<Send> sends_;
    std::vector<StepResult> results_;
};

} // namespace check
