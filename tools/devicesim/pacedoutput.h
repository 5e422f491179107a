#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace devicetools
{

// What an event loop still has to send to one peer: pieces of bytes, each to
// go out a pause after the piece before it has gone (the split-answer
// fault), in order, bounded in bytes. Knows no socket: the transport asks
// what is ready, sends what it can and says how much went.
//
// An empty piece is a piece too (an empty datagram). One thread uses it.
class PacedOutput
{
public:
    using Clock = std::chrono::steady_clock;

    explicit PacedOutput(std::size_t capacity) : capacity_(capacity) {}

    // Queues `bytes` to go out `pauseMs` after everything queued before them
    // has gone (after `now` when nothing is queued). False, queueing nothing,
    // when the queue would hold more than its capacity.
    bool push(std::string_view bytes, std::uint32_t pauseMs, Clock::time_point now);

    bool empty() const { return pieces_.empty(); }
    std::size_t queuedBytes() const { return queued_; }

    // The unsent bytes of the first piece once its pause is over at `now`;
    // nothing while the pause runs or when the queue is empty.
    std::optional<std::string_view> ready(Clock::time_point now) const;
    // `count` bytes of what ready() gave went out; once a whole piece has,
    // the next one's pause starts at `now`.
    void consume(std::size_t count, Clock::time_point now);
    // Drops the first piece, sent or not (a datagram that cannot go).
    void dropFirst(Clock::time_point now);
    // When the first piece may go (its pause over; may have passed), or
    // nothing when the queue is empty.
    std::optional<Clock::time_point> nextAt() const;

private:
    struct Piece {
        std::string bytes;
        std::uint32_t pauseMs = 0;
    };

    void startNext(Clock::time_point now);

    std::size_t capacity_;
    std::deque<Piece> pieces_;
    std::size_t sent_ = 0; // of the first piece
    std::size_t queued_ = 0;
    Clock::time_point firstAt_{};
};

} // namespace devicetools
