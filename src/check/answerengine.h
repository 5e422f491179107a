#pragma once

#include "checkfile.h"
#include "enginefeed.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace protocol
{
class RecordSplitter;
}

namespace check
{

// One automatic answer to send: literal texts, checked to be sendable.
struct Answer {
    std::string rule; // the rule's name, or "answer 2" (its place, from 1)
    bool isFrame = true;
    protocol::FrameFields fields; // a frame's fields, placeholders filled
    std::string text;             // a free text, placeholders filled
};

// The `[[answer]]` rules of a check file, applied to received bytes without
// any I/O: the caller feeds the bytes and the time, and takes the answers to
// send.
//
// Received bytes are cut into records at line ends and at the end of each
// datagram (as CheckRun cuts them).
// A record that passes the console's frame check in the mode given and
// decodes as a frame of that mode is matched against the rules in order; the
// first whose `when` matches answers it (one answer per frame), its texts
// filled from the received frame's {media} {id} {data} {command} {message}.
// At most `maxPerSecond` answers go out in each second of the times fed (to
// the clock's tick); further matches are counted in overLimit(), not
// answered. A second starts with the first match after the one before has
// ended (or the first of all), so a flood is answered exactly maxPerSecond
// times in each second from its first answer, and a device that keeps to the
// bound meets it at most once a second, where a frame of one second came late
// into the next (a window sliding over every answer would meet it at every
// frame). The times fed should be those at which the bytes were received:
// stamped when they are handed on instead, bytes that waited together would
// bunch up and a device that keeps to the bound would seem to exceed it. An
// answer that cannot be sent as filled (a field off its width, an unknown
// placeholder) is counted in unsendable(), with lastProblem() saying why.
//
// One thread; memory bounded by the splitter's bound.
class AnswerEngine
{
public:
    static constexpr std::uint32_t kDefaultMaxPerSecond = 100;
    static constexpr Millis kRateWindow{1000};

    explicit AnswerEngine(std::vector<AnswerRule> rules,
                          protocol::DelimiterMode mode = protocol::DelimiterMode::Demo,
                          std::uint32_t maxPerSecond = kDefaultMaxPerSecond);
    ~AnswerEngine();
    AnswerEngine(AnswerEngine&&) noexcept;
    AnswerEngine& operator=(AnswerEngine&&) noexcept;

    void setMode(protocol::DelimiterMode mode) { mode_ = mode; }
    // At least 1.
    void setMaxPerSecond(std::uint32_t maxPerSecond);
    std::uint32_t maxPerSecond() const { return maxPerSecond_; }

    // Received bytes: a stream's in any split, or one whole datagram (whose
    // end ends a record); `at`, when they were received (never earlier than
    // the time fed before).
    void received(std::string_view bytes, Chunk chunk, Instant at);
    // The answers due, oldest first; leaves none.
    std::vector<Answer> takeAnswers();

    std::uint64_t answered() const { return answered_; }
    std::uint64_t overLimit() const { return overLimit_; }
    std::uint64_t unsendable() const { return unsendable_; }
    const std::string& lastProblem() const { return lastProblem_; }

private:
    void handleRecord(std::string_view record, Instant at);

    std::vector<AnswerRule> rules_;
    protocol::DelimiterMode mode_;
    std::uint32_t maxPerSecond_;
    // Held apart so that this header stays usable next to Qt's `emit`.
    std::unique_ptr<protocol::RecordSplitter> splitter_;
    std::optional<Instant> secondStart_; // of the second running, once a match came
    std::uint32_t answeredThisSecond_ = 0;
    std::vector<Answer> answers_;
    std::uint64_t answered_ = 0;
    std::uint64_t overLimit_ = 0;
    std::uint64_t unsendable_ = 0;
    std::string lastProblem_;
};

} // namespace check
