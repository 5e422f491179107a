#include "eventloop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>

// Events carry the descriptor and the generation it was watched under, so an
// event still queued for a descriptor that was unwatched (and perhaps reused
// for a new socket) within the same turn finds a different generation and is
// dropped instead of reaching the new socket's handler.

namespace net
{

namespace
{

constexpr std::uint64_t kWakeKey = ~std::uint64_t{0};

std::uint64_t keyOf(int fd, std::uint32_t generation)
{
    return (std::uint64_t{generation} << 32) | static_cast<std::uint32_t>(fd);
}

} // namespace

EventLoop::EventLoop() : now_(Clock::now()), scratch_(kScratchBytes)
{
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        error_ = base::Error::fromErrno("epoll_create1");
        return;
    }
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) {
        error_ = base::Error::fromErrno("eventfd");
        return;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeKey;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event) != 0)
        error_ = base::Error::fromErrno("epoll_ctl");
}

EventLoop::~EventLoop()
{
    if (wake_ >= 0)
        ::close(wake_);
    if (epoll_ >= 0)
        ::close(epoll_);
}

std::uint32_t EventLoop::systemEvents(std::uint32_t interest)
{
    // The peer's half close is asked for only with reads: epoll repeats it at
    // every turn, so a descriptor whose reads are paused would keep the loop
    // awake. A full hang-up and an error are told whatever the interest.
    std::uint32_t events = 0;
    if (interest & WantRead)
        events |= EPOLLIN | EPOLLRDHUP;
    if (interest & WantWrite)
        events |= EPOLLOUT;
    return events;
}

base::Error EventLoop::watch(int fd, std::uint32_t interest, Handler handler)
{
    if (!error_.ok())
        return error_;
    if (fd < 0)
        return base::Error(base::Fault::BadParameter);
    if (static_cast<std::size_t>(fd) >= entries_.size())
        entries_.resize(std::max<std::size_t>(fd + 1, entries_.size() * 2));
    Entry& entry = entries_[fd];
    if (entry.active)
        return base::Error::system(EEXIST, "epoll_ctl");
    const std::uint32_t generation = nextGeneration_++;
    epoll_event event{};
    event.events = systemEvents(interest);
    event.data.u64 = keyOf(fd, generation);
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0)
        return base::Error::fromErrno("epoll_ctl");
    entry.handler = std::make_unique<Handler>(std::move(handler));
    entry.generation = generation;
    entry.interest = interest;
    entry.active = true;
    ++watched_;
    return {};
}

base::Error EventLoop::setInterest(int fd, std::uint32_t interest)
{
    if (!watching(fd))
        return base::Error::system(ENOENT, "epoll_ctl");
    Entry& entry = entries_[fd];
    if (entry.interest == interest)
        return {};
    epoll_event event{};
    event.events = systemEvents(interest);
    event.data.u64 = keyOf(fd, entry.generation);
    if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) != 0)
        return base::Error::fromErrno("epoll_ctl");
    entry.interest = interest;
    return {};
}

void EventLoop::unwatch(int fd)
{
    if (!watching(fd))
        return;
    Entry& entry = entries_[fd];
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    // The handler may be the one running now: it lives until the turn ends.
    removed_.push_back(std::move(entry.handler));
    entry.active = false;
    entry.generation = 0;
    --watched_;
}

bool EventLoop::watching(int fd) const
{
    return fd >= 0 && static_cast<std::size_t>(fd) < entries_.size() && entries_[fd].active;
}

EventLoop::TimerId EventLoop::at(Instant when, Task task)
{
    return timers_.add(when, std::move(task));
}

EventLoop::TimerId EventLoop::after(Millis delay, Task task)
{
    return timers_.add(Clock::now() + delay, std::move(task));
}

void EventLoop::cancel(TimerId id)
{
    timers_.cancel(id);
}

void EventLoop::post(Task task)
{
    bool wake = false;
    {
        const std::lock_guard lock(postedLock_);
        posted_.push_back(std::move(task));
        wake = !wakePending_;
        wakePending_ = true;
    }
    if (wake && wake_ >= 0) {
        const std::uint64_t one = 1;
        // A full counter still wakes the loop; nothing else can fail here.
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof(one));
    }
}

void EventLoop::quit()
{
    {
        const std::lock_guard lock(postedLock_);
        quitRequested_ = true;
        if (wakePending_)
            return;
        wakePending_ = true;
    }
    if (wake_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof(one));
    }
}

base::Error EventLoop::run()
{
    if (!error_.ok())
        return error_;
    quit_ = false;
    while (!quit_) {
        if (base::Error error = runOnce(Millis(-1)); !error.ok())
            return error;
    }
    return {};
}

int EventLoop::waitMs(Millis maxWait)
{
    {
        // Work posted already: no waiting.
        const std::lock_guard lock(postedLock_);
        if (!posted_.empty() || quitRequested_)
            return 0;
    }
    const std::optional<Instant> due = timers_.nextDue();
    long long wait = maxWait.count() < 0 ? -1 : maxWait.count();
    if (due) {
        const auto untilDue = std::chrono::ceil<Millis>(*due - Clock::now()).count();
        const long long timerWait = std::max<long long>(untilDue, 0);
        wait = wait < 0 ? timerWait : std::min(wait, timerWait);
    }
    return static_cast<int>(std::min<long long>(wait, 24LL * 3600 * 1000));
}

base::Error EventLoop::runOnce(Millis maxWait)
{
    if (!error_.ok())
        return error_;
    std::array<epoll_event, kEventBatch> events{};
    const int count = ::epoll_wait(epoll_, events.data(), kEventBatch, waitMs(maxWait));
    if (count < 0 && errno != EINTR)
        return base::Error::fromErrno("epoll_wait");
    now_ = Clock::now();
    for (int i = 0; i < count; ++i) {
        const std::uint64_t key = events[i].data.u64;
        if (key == kWakeKey) {
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t read = ::read(wake_, &value, sizeof(value));
            continue;
        }
        const int fd = static_cast<int>(key & 0xffffffffu);
        const auto generation = static_cast<std::uint32_t>(key >> 32);
        if (!watching(fd) || entries_[fd].generation != generation)
            continue;
        const std::uint32_t system = events[i].events;
        std::uint32_t ready = 0;
        if (system & EPOLLIN)
            ready |= Readable;
        if (system & EPOLLOUT)
            ready |= Writable;
        if (system & (EPOLLHUP | EPOLLRDHUP))
            ready |= HangUp;
        if (system & EPOLLERR)
            ready |= Failed;
        // The handler lives on the heap: it stays where it is while the
        // table grows (a handler may watch new descriptors), and one that
        // unwatches itself moves into removed_, alive until the turn ends.
        Handler& handler = *entries_[fd].handler;
        handler(ready);
    }
    runTimers();
    runPosted();
    removed_.clear();
    return {};
}

void EventLoop::runTimers()
{
    // Only the timers due at the turn's start: one that a task sets for "now"
    // waits for the next turn, so timers cannot keep the loop from its sockets.
    const Instant turn = now_;
    while (std::optional<Task> task = timers_.takeDue(turn))
        (*task)();
}

void EventLoop::runPosted()
{
    std::vector<Task> tasks;
    {
        const std::lock_guard lock(postedLock_);
        tasks.swap(posted_);
        wakePending_ = false;
        if (quitRequested_) {
            quitRequested_ = false;
            quit_ = true;
        }
    }
    for (Task& task : tasks)
        task();
}

} // namespace net
