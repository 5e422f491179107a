#include "commandrepeat.h"

#include <algorithm>

namespace app
{

CommandRepeat::CommandRepeat(QObject* parent) : QObject(parent)
{
    // Precise: a repeat every few milliseconds is what the operator asked for.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &CommandRepeat::sendDue);
}

void CommandRepeat::start(SendOnce send, int intervalMs, std::uint64_t count)
{
    send_ = std::move(send);
    count_ = count;
    sent_ = 0;
    stopReason_.clear();
    // Before the timer starts, so that no tick comes before its send is due.
    schedule_ = RepeatSchedule(std::chrono::milliseconds(std::max(1, intervalMs)), count,
                               check::Clock::now());
    timer_.start(std::max(1, intervalMs));
    emit runningChanged(true);
    sendDue();
}

void CommandRepeat::stop(const std::string& reason)
{
    if (!timer_.isActive())
        return;
    timer_.stop();
    stopReason_ = reason;
    emit progressed();
    emit runningChanged(false);
}

void CommandRepeat::sendDue()
{
    if (!timer_.isActive())
        return;
    const std::uint64_t due = schedule_.due(check::Clock::now());
    for (std::uint64_t i = 0; i < due; ++i) {
        const base::Error error = send_();
        if (!error.ok()) {
            stop(error.text());
            return;
        }
        ++sent_;
    }
    if (schedule_.finished())
        stop("done");
    else if (due > 0)
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
