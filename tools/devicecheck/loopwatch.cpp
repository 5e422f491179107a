#include "loopwatch.h"

namespace devicetools
{

LoopWatch::LoopWatch(net::EventLoop& loop, std::function<void(std::uint32_t)> onReady,
                     std::function<void()> onTimer)
    : loop_(loop), onReady_(std::move(onReady)), onTimer_(std::move(onTimer))
{
}

LoopWatch::~LoopWatch()
{
    loop_.cancel(timer_);
}

void LoopWatch::watch(int fd, std::uint32_t wanted)
{
    if (interest_ == 0) {
        if (loop_.watch(fd, wanted, [this](std::uint32_t ready) { onReady_(ready); }).ok()) {
            interest_ = wanted;
        }
    } else if (wanted != interest_ && loop_.setInterest(fd, wanted).ok()) {
        interest_ = wanted;
    }
}

void LoopWatch::unwatch(int fd)
{
    if (interest_ != 0) {
        loop_.unwatch(fd);
        interest_ = 0;
    }
}

void LoopWatch::wakeAt(std::optional<check::Instant> due)
{
    if (timer_ != 0 && (!due || *due != timerAt_)) {
        loop_.cancel(timer_);
        timer_ = 0;
    }
    if (due && timer_ == 0) {
        timerAt_ = *due;
        timer_ = loop_.at(*due, [this] {
            timer_ = 0;
            onTimer_();
        });
    }
}

} // namespace devicetools
