#include "commandrepeat.h"

#include <algorithm>

namespace app
{

CommandRepeat::CommandRepeat(QObject* parent) : QObject(parent)
{
    // Precise: a repeat every few milliseconds is what the operator asked for.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &CommandRepeat::sendNext);
}

void CommandRepeat::start(SendOnce send, int intervalMs, std::uint64_t count)
{
    send_ = std::move(send);
    count_ = count;
    sent_ = 0;
    stopReason_.clear();
    timer_.start(std::max(1, intervalMs));
    sendNext();
}

void CommandRepeat::stop(const std::string& reason)
{
    if (!timer_.isActive())
        return;
    timer_.stop();
    stopReason_ = reason;
    emit progressed();
}

void CommandRepeat::sendNext()
{
    if (!timer_.isActive())
        return;
    const std::string error = send_();
    if (!error.empty()) {
        stop(error);
        return;
    }
    ++sent_;
    if (count_ != 0 && sent_ >= count_)
        stop("done");
    else
        emit progressed();
}

std::string CommandRepeat::progressText() const
{
    std::string text = "sent " + std::to_string(sent_);
    if (count_ != 0)
        text += " of " + std::to_string(count_);
    if (!stopReason_.empty())
        text += " (" + stopReason_ + ")";
    return text;
}

} // namespace app
