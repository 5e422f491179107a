#include "loopdialer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace net
{

LoopDialer::LoopDialer(EventLoop& loop, Handler handler) : loop_(loop), handler_(std::move(handler))
{
}

LoopDialer::~LoopDialer()
{
    giveUp();
}

void LoopDialer::giveUp()
{
    loop_.cancel(timer_);
    timer_ = 0;
    loop_.cancel(pendingFailure_);
    pendingFailure_ = 0;
    if (fd_ >= 0) {
        loop_.unwatch(fd_);
        ::close(fd_);
        fd_ = -1;
    }
}

void LoopDialer::dial(const Endpoint& remote, EventLoop::Millis timeout, const Endpoint& local)
{
    giveUp();
    const auto failSoon = [this](base::Error error) {
        // Told at the next turn, as every outcome is: the caller's handler
        // never runs inside dial().
        pendingFailure_ = loop_.after(EventLoop::Millis(0), [this, error] {
            pendingFailure_ = 0;
            end(error);
        });
    };
    if (remote.empty()) {
        failSoon(base::Error(base::Fault::BadParameter));
        return;
    }
    fd_ = ::socket(remote.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        failSoon(base::Error::fromErrno("socket"));
        return;
    }
    if (!local.empty() && ::bind(fd_, local.address(), local.length) != 0) {
        const base::Error error = base::Error::fromErrno("bind");
        ::close(fd_);
        fd_ = -1;
        failSoon(error);
        return;
    }
    int result = 0;
    do {
        result = ::connect(fd_, remote.address(), remote.length);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno != EINPROGRESS) {
        const base::Error error = base::Error::fromErrno(remote.text());
        ::close(fd_);
        fd_ = -1;
        failSoon(error);
        return;
    }
    if (const base::Error error =
            loop_.watch(fd_, EventLoop::WantWrite, [this](std::uint32_t ready) { onReady(ready); });
        !error.ok()) {
        ::close(fd_);
        fd_ = -1;
        failSoon(error);
        return;
    }
    timer_ = loop_.after(timeout, [this] {
        timer_ = 0;
        end(base::Error(base::Fault::TimedOut));
    });
}

void LoopDialer::onReady(std::uint32_t /*ready*/)
{
    int code = 0;
    socklen_t length = sizeof(code);
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &code, &length) != 0)
        code = errno;
    if (code != 0) {
        end(base::Error::system(code, "connect"));
        return;
    }
    // Connected: the socket goes to the handler.
    loop_.cancel(timer_);
    timer_ = 0;
    loop_.unwatch(fd_);
    const int connected = fd_;
    fd_ = -1;
    Handler handler = handler_;
    handler(connected);
}

void LoopDialer::end(base::Result<int> outcome)
{
    giveUp();
    // A copy: the handler may destroy the dialer.
    Handler handler = handler_;
    handler(std::move(outcome));
}

} // namespace net
