#include "securelink.h"

#include <sys/socket.h>

#include <cerrno>

namespace devicetools
{

namespace
{

// Written bytes are dropped from the front of the buffer only past this, so
// that a stream of small writes does not move the buffer each time.
constexpr std::size_t kCompactAt = 64 * 1024;

} // namespace

void SecureLink::start()
{
    session_->start();
    take();
}

std::string SecureLink::receive(std::string_view cipher)
{
    session_->receive(cipher);
    take();
    return session_->takeReceived();
}

base::Error SecureLink::send(std::string_view plain)
{
    base::Error error = session_->send(plain);
    take();
    return error;
}

base::Error SecureLink::flush(int fd)
{
    while (written_ < output_.size()) {
        const ssize_t count =
            ::send(fd, output_.data() + written_, output_.size() - written_, MSG_NOSIGNAL);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            }
            return base::Error::fromErrno();
        }
        written_ += static_cast<std::size_t>(count);
    }
    if (written_ == output_.size()) {
        output_.clear();
        written_ = 0;
    } else if (written_ > kCompactAt) {
        output_.erase(0, written_);
        written_ = 0;
    }
    return {};
}

std::string SecureLink::description() const
{
    const tls::PeerCheck& peer = session_->peer();
    return "TLS " + session_->version() + ", cipher " + session_->cipher() + ", " +
           (peer.presented ? "peer certificate " + peer.certificate.fingerprint
                           : std::string("no peer certificate"));
}

void SecureLink::take()
{
    output_ += session_->takeOutput();
}

} // namespace devicetools
