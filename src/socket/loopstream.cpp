#include "loopstream.h"

#include "blockio.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace net
{

LoopStream::LoopStream(EventLoop& loop, int fd, Limits limits)
    : loop_(loop), fd_(fd), limits_(limits), peer_(Endpoint::peerOf(fd))
{
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK))
        ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    sendBlocksAtOnce(fd_);
}

LoopStream::~LoopStream()
{
    close();
}

base::Error LoopStream::start(ReadHandler onRead, CloseHandler onClose)
{
    onRead_ = std::move(onRead);
    onClose_ = std::move(onClose);
    if (fd_ < 0)
        return base::Error(base::Fault::PeerClosed);
    base::Error error =
        loop_.watch(fd_, EventLoop::WantRead, [this](std::uint32_t ready) { onReady(ready); });
    if (!error.ok())
        close();
    return error;
}

base::Error LoopStream::send(std::string_view bytes)
{
    if (fd_ < 0 || finishing_)
        return base::Error(base::Fault::PeerClosed);
    if (bytes.empty())
        return {};
    std::size_t sent = 0;
    if (queuedBytes() == 0) {
        const ssize_t count = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            // Told through the close handler at the next turn, like a failed
            // read, so that the caller's handler is never re-entered from here.
            const base::Error error = base::Error::fromErrno("send");
            const std::weak_ptr<bool> alive = alive_;
            loop_.post([this, alive, error] {
                if (!alive.expired() && fd_ >= 0)
                    fail(error);
            });
            return error;
        }
        sent = count > 0 ? static_cast<std::size_t>(count) : 0;
        bytesOut_ += sent;
        if (sent == bytes.size())
            return {};
    }
    const std::size_t rest = bytes.size() - sent;
    if (queuedBytes() + rest > limits_.maxQueuedBytes) {
        if (sent != 0) {
            // A block is never cut: what went out stays out, the rest waits
            // beyond the bound rather than being dropped halfway.
            queued_.append(bytes.substr(sent));
            updateInterest();
            return {};
        }
        return base::Error(base::Fault::SendQueueFull);
    }
    if (sentOfQueued_ > 0 && sentOfQueued_ >= queued_.size() / 2) {
        queued_.erase(0, sentOfQueued_);
        sentOfQueued_ = 0;
    }
    queued_.append(bytes.substr(sent));
    updateInterest();
    return {};
}

void LoopStream::setReading(bool on)
{
    reading_ = on;
    updateInterest();
}

void LoopStream::finish()
{
    if (fd_ < 0 || finishing_)
        return;
    finishing_ = true;
    if (queuedBytes() == 0)
        ::shutdown(fd_, SHUT_WR);
    if (limits_.writeStall.count() > 0 && stallTimer_ == 0)
        stallTimer_ = loop_.after(limits_.writeStall, [this] {
            stallTimer_ = 0;
            fail(base::Error(base::Fault::TimedOut));
        });
    reading_ = true;
    updateInterest();
}

void LoopStream::close()
{
    if (fd_ < 0)
        return;
    loop_.cancel(stallTimer_);
    stallTimer_ = 0;
    loop_.unwatch(fd_);
    ::close(fd_);
    fd_ = -1;
    queued_.clear();
    sentOfQueued_ = 0;
}

void LoopStream::updateInterest()
{
    if (fd_ < 0)
        return;
    std::uint32_t interest = reading_ ? std::uint32_t{EventLoop::WantRead} : 0u;
    if (queuedBytes() > 0)
        interest |= EventLoop::WantWrite;
    (void)loop_.setInterest(fd_, interest);
    // The stall clock runs while output waits and the peer takes nothing.
    if (queuedBytes() > 0 && stallTimer_ == 0 && limits_.writeStall.count() > 0)
        stallTimer_ = loop_.after(limits_.writeStall, [this] {
            stallTimer_ = 0;
            fail(base::Error(base::Fault::TimedOut));
        });
    else if (queuedBytes() == 0 && stallTimer_ != 0 && !finishing_) {
        loop_.cancel(stallTimer_);
        stallTimer_ = 0;
    }
}

void LoopStream::flush()
{
    while (queuedBytes() > 0) {
        const ssize_t count =
            ::send(fd_, queued_.data() + sentOfQueued_, queuedBytes(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            fail(base::Error::fromErrno("send"));
            return;
        }
        sentOfQueued_ += static_cast<std::size_t>(count);
        bytesOut_ += static_cast<std::size_t>(count);
        // Progress: the stall clock starts again.
        if (stallTimer_ != 0 && !finishing_) {
            loop_.cancel(stallTimer_);
            stallTimer_ = 0;
        }
    }
    const bool drained = queuedBytes() == 0;
    if (drained) {
        queued_.clear();
        sentOfQueued_ = 0;
        if (finishing_)
            ::shutdown(fd_, SHUT_WR);
    }
    updateInterest();
    // Last: the handler may destroy the stream.
    if (drained && onDrained_ && !finishing_)
        onDrained_();
}

void LoopStream::onReady(std::uint32_t ready)
{
    if ((ready & EventLoop::Writable) && queuedBytes() > 0) {
        const std::weak_ptr<bool> alive = alive_;
        flush();
        if (alive.expired() || fd_ < 0)
            return;
    }
    if (ready & EventLoop::Failed) {
        int code = 0;
        socklen_t length = sizeof(code);
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &code, &length);
        if (code != 0) {
            fail(base::Error::system(code, "socket"));
            return;
        }
    }
    // While reads are paused only a whole hang-up is told (see EventLoop):
    // what is left is read then, else the loop would be woken at every turn.
    if (!(ready & (EventLoop::Readable | EventLoop::HangUp)) ||
        (!reading_ && !finishing_ && !(ready & EventLoop::HangUp)))
        return;
    // One read a turn: a peer that floods shares the loop with the others.
    char* buffer = loop_.scratch();
    const ssize_t count = ::recv(fd_, buffer, EventLoop::kScratchBytes, MSG_DONTWAIT);
    if (count > 0) {
        bytesIn_ += static_cast<std::size_t>(count);
        if (onRead_ && !finishing_)
            onRead_(std::string_view(buffer, static_cast<std::size_t>(count)));
        return;
    }
    if (count == 0) {
        fail(base::Error(base::Fault::PeerClosed));
        return;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        fail(base::Error::fromErrno("recv"));
}

void LoopStream::fail(const base::Error& why)
{
    close();
    // Last: the handler may destroy the stream.
    if (onClose_) {
        CloseHandler handler = std::move(onClose_);
        onClose_ = nullptr;
        handler(why);
    }
}

} // namespace net
