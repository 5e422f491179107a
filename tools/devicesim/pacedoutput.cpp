#include "pacedoutput.h"

namespace devicetools
{

bool PacedOutput::push(std::string_view bytes, std::uint32_t pauseMs, Clock::time_point now)
{
    if (queued_ + bytes.size() > capacity_) {
        return false;
    }
    pieces_.push_back(Piece{std::string(bytes), pauseMs});
    queued_ += bytes.size();
    if (pieces_.size() == 1) {
        startNext(now);
    }
    return true;
}

std::optional<std::string_view> PacedOutput::ready(Clock::time_point now) const
{
    if (pieces_.empty() || now < firstAt_) {
        return std::nullopt;
    }
    return std::string_view(pieces_.front().bytes).substr(sent_);
}

void PacedOutput::consume(std::size_t count, Clock::time_point now)
{
    if (pieces_.empty()) {
        return;
    }
    sent_ += count;
    queued_ -= count;
    if (sent_ >= pieces_.front().bytes.size()) {
        sent_ = 0;
        pieces_.pop_front();
        startNext(now);
    }
}

void PacedOutput::dropFirst(Clock::time_point now)
{
    if (pieces_.empty()) {
        return;
    }
    consume(pieces_.front().bytes.size() - sent_, now);
}

std::optional<PacedOutput::Clock::time_point> PacedOutput::nextAt() const
{
    if (pieces_.empty()) {
        return std::nullopt;
    }
    return firstAt_;
}

void PacedOutput::startNext(Clock::time_point now)
{
    if (!pieces_.empty()) {
        firstAt_ = now + std::chrono::milliseconds(pieces_.front().pauseMs);
    }
}

} // namespace devicetools
