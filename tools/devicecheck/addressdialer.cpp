#include "addressdialer.h"

#include "socket/eventloop.h"

#include <sys/socket.h>

#include <cerrno>

namespace devicetools
{

AddressDialer::AddressDialer(std::vector<net::Endpoint> addresses, int type)
    : addresses_(std::move(addresses)), type_(type)
{
}

std::optional<AddressDialer::Attempt> AddressDialer::next()
{
    while (next_ < addresses_.size()) {
        const net::Endpoint& to = addresses_[next_++];
        const int fd = ::socket(to.family(), type_ | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lastError_ = base::Error::fromErrno("no socket");
            continue;
        }
        Attempt attempt{net::ConnectedSocket(fd, {}), false};
        if (::connect(fd, to.address(), to.length) == 0) {
            attempt.connected = true;
            return attempt;
        }
        if (errno == EINPROGRESS) {
            return attempt;
        }
        // The socket closes as the attempt goes.
        lastError_ = base::Error::fromErrno();
    }
    return std::nullopt;
}

base::Error AddressDialer::answer(int fd, std::uint32_t ready)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
    }
    if (error == 0 && (ready & (net::EventLoop::Failed | net::EventLoop::HangUp)) == 0) {
        return {};
    }
    lastError_ = base::Error::system(error != 0 ? error : ECONNREFUSED);
    return lastError_;
}

} // namespace devicetools
