#include "sendqueue.h"

#include <system_error>
#include <utility>

namespace net
{

SendQueue::SendQueue(WriteNow write, Report report)
    : SendQueue(std::move(write), std::move(report), Limits{})
{
}

SendQueue::SendQueue(WriteNow write, Report report, Limits limits)
    : write_(std::move(write)), report_(std::move(report)), limits_(limits)
{
}

SendQueue::~SendQueue()
{
    close();
}

SendQueue::Outcome SendQueue::send(const std::uint8_t* message, std::uint32_t length)
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::uint32_t written = 0;
    if (waiting_.empty()) {
        const IoResult result = write_(message, length);
        if (result.ok() && *result >= length) {
            ++sent_;
            report_(message, length, result);
            return Outcome::Sent;
        }
        if (endsConnection(result)) {
            ++dropped_;
            report_(message, length, result);
            return Outcome::Dropped;
        }
        if (result.ok())
            written = *result;
    }
    const std::uint32_t left = length - written;
    // A started message must follow its first part, whatever the bound.
    if (written == 0 && waitingBytes_ + left > limits_.maxWaitingBytes) {
        ++dropped_;
        report_(message, length, IoResult(base::Error(base::Fault::SendQueueFull)));
        return Outcome::Dropped;
    }
    if (!writer_.joinable()) {
        try {
            writer_ = std::thread([this] { run(); });
        } catch (const std::system_error& error) {
            // Without a writer nothing would ever take it.
            ++dropped_;
            report_(message, length,
                    written > 0 ? IoResult(written)
                                : IoResult(base::Error::system(error.code().value())));
            return Outcome::Dropped;
        }
    }
    waiting_.push_back(Message{std::vector<std::uint8_t>(message, message + length), written,
                               Clock::now() + limits_.messageLimit});
    waitingBytes_ += left;
    lock.unlock();
    wake_.notify_one();
    return Outcome::Queued;
}

void SendQueue::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!closing_) {
        if (waiting_.empty()) {
            wake_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
            continue;
        }
        Message& head = waiting_.front();
        if (head.written == 0 && Clock::now() >= head.deadline) {
            finishHead(ioTimedOut());
            continue;
        }
        const auto length = static_cast<std::uint32_t>(head.bytes.size());
        const IoResult result = write_(head.bytes.data() + head.written, length - head.written);
        if (endsConnection(result)) {
            finishHead(result);
            continue;
        }
        if (result.ok() && *result > 0) {
            head.written += *result;
            waitingBytes_ -= *result;
            if (head.written >= length)
                finishHead(IoResult(length));
            continue;
        }
        // No room: the connection gives no sign when its room reaches a whole
        // message, so the head is offered again after a short pause; close()
        // cuts the pause short.
        wake_.wait_for(lock, kRetryInterval, [this] { return closing_; });
    }
}

void SendQueue::close()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    if (writer_.joinable())
        writer_.join();
    const std::lock_guard<std::mutex> lock(mutex_);
    while (!waiting_.empty())
        finishHead(ioClosed());
    closing_ = false;
}

SendQueue::Counts SendQueue::counts() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return {sent_, dropped_, waiting_.size(), waitingBytes_};
}

void SendQueue::finishHead(const IoResult& result)
{
    const Message message = std::move(waiting_.front());
    waiting_.pop_front();
    waitingBytes_ -= message.bytes.size() - message.written;
    const auto length = static_cast<std::uint32_t>(message.bytes.size());
    const bool whole = result.ok() && *result >= length;
    ++(whole ? sent_ : dropped_);
    // A cut message is told by the count that went out.
    report_(message.bytes.data(), length,
            !whole && message.written > 0 ? IoResult(message.written) : result);
}

} // namespace net
