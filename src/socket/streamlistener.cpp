#include "streamlistener.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace net
{

namespace
{

// Failures that say "not now" (resources run out) rather than "never".
bool worthRetrying(int code)
{
    return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM;
}

} // namespace

base::Result<int> StreamListener::open(const Endpoint& local, int backlog)
{
    if (local.empty())
        return base::Error(base::Fault::BadParameter);
    const int fd = ::socket(local.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return base::Error::fromErrno("socket");
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (::bind(fd, local.address(), local.length) != 0 || ::listen(fd, backlog) != 0) {
        const base::Error error = base::Error::fromErrno(local.text());
        ::close(fd);
        return error;
    }
    return fd;
}

StreamListener::StreamListener(EventLoop& loop, int fd, AcceptHandler onAccept,
                               FailureHandler onFailure)
    : loop_(loop), fd_(fd), onAccept_(std::move(onAccept)), onFailure_(std::move(onFailure))
{
}

StreamListener::~StreamListener()
{
    loop_.cancel(retry_);
    if (fd_ >= 0) {
        loop_.unwatch(fd_);
        ::close(fd_);
    }
}

base::Error StreamListener::start()
{
    return loop_.watch(fd_, EventLoop::WantRead, [this](std::uint32_t) { acceptSome(); });
}

void StreamListener::setAccepting(bool on)
{
    if (paused_ == !on)
        return;
    paused_ = !on;
    // While resting after a failure, the retry takes it up again.
    if (retry_ == 0)
        (void)loop_.setInterest(fd_, on ? std::uint32_t{EventLoop::WantRead} : 0u);
}

void StreamListener::acceptSome()
{
    for (int i = 0; i < kAcceptsPerTurn && !paused_; ++i) {
        sockaddr_storage peer{};
        socklen_t length = sizeof(peer);
        const int accepted = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length,
                                       SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (accepted < 0) {
            const int code = errno;
            if (code == EAGAIN || code == EWOULDBLOCK)
                return;
            // A connection the peer gave up before we took it, or a signal:
            // the next one may be fine.
            if (code == EINTR || code == ECONNABORTED || code == EPROTO || code == EPERM)
                continue;
            rest(base::Error::system(code, "accept"));
            return;
        }
        failureTold_ = false;
        // The handler may destroy the listener: then the batch ends here.
        const std::weak_ptr<bool> alive = alive_;
        onAccept_(accepted, Endpoint::from(reinterpret_cast<sockaddr*>(&peer), length));
        if (alive.expired())
            return;
    }
}

void StreamListener::rest(const base::Error& error)
{
    const bool retry = worthRetrying(error.systemCode());
    // Nothing to wait for meanwhile: the listener sleeps, then tries again.
    if (retry) {
        (void)loop_.setInterest(fd_, 0);
        retry_ = loop_.after(EventLoop::Millis(kRetryMs), [this] {
            retry_ = 0;
            if (!paused_)
                (void)loop_.setInterest(fd_, EventLoop::WantRead);
        });
    }
    if (!failureTold_ && onFailure_) {
        failureTold_ = true;
        onFailure_(error);
    }
}

} // namespace net
