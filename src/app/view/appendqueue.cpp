#include "appendqueue.h"

namespace app
{

AppendQueue::AppendQueue(std::size_t byteCapacity, std::size_t textCapacity)
    : byteCapacity_(byteCapacity), textCapacity_(textCapacity == 0 ? 1 : textCapacity)
{
    queued_.bytes.reserve(byteCapacity_);
    queued_.lengths.reserve(textCapacity_);
}

AppendQueue::PushResult AppendQueue::push(std::string_view text, std::chrono::milliseconds timeout)
{
    if (text.size() > byteCapacity_) {
        return PushResult::TooLarge;
    }
    std::unique_lock lock(mutex_);
    const auto fits = [&] {
        return queued_.lengths.size() < textCapacity_ &&
               queued_.bytes.size() + text.size() <= byteCapacity_;
    };
    room_.wait_for(lock, timeout, [&] { return refusing_ || fits(); });
    if (refusing_) {
        return PushResult::Refused;
    }
    if (!fits()) {
        return PushResult::TimedOut;
    }
    // Within the reserved capacity: no allocation.
    queued_.bytes.insert(queued_.bytes.end(), text.begin(), text.end());
    queued_.lengths.push_back(static_cast<std::uint32_t>(text.size()));
    if (takerTold_) {
        return PushResult::Queued;
    }
    takerTold_ = true;
    return PushResult::QueuedFirst;
}

void AppendQueue::take(Batch& batch)
{
    batch.bytes.clear();
    batch.lengths.clear();
    {
        std::lock_guard lock(mutex_);
        queued_.bytes.swap(batch.bytes);
        queued_.lengths.swap(batch.lengths);
        // The buffers the queue got back are reused from then on; only the
        // first take() (or a batch that was never used) allocates here.
        queued_.bytes.reserve(byteCapacity_);
        queued_.lengths.reserve(textCapacity_);
        takerTold_ = false;
    }
    room_.notify_all();
}

void AppendQueue::setRefusing(bool refusing)
{
    {
        std::lock_guard lock(mutex_);
        refusing_ = refusing;
    }
    room_.notify_all();
}

void AppendQueue::clear()
{
    {
        std::lock_guard lock(mutex_);
        queued_.bytes.clear();
        queued_.lengths.clear();
        takerTold_ = false;
    }
    room_.notify_all();
}

} // namespace app
