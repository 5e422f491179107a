#include "tlslink.h"

#include <sys/socket.h>

#include <cerrno>

namespace devicetools
{

TlsLink::TlsLink(std::shared_ptr<tls::TlsContext> context, std::string peerName)
    : session_(context, context->role() == tls::Role::Client ? std::move(peerName) : std::string())
{
    session_.start();
    waiting_ = session_.takeOutput();
}

std::string TlsLink::receive(int fd, std::string_view cipher)
{
    session_.receive(cipher);
    waiting_ += session_.takeOutput();
    // A failure to send shows at the next write, or as the peer's silence.
    (void)flush(fd);
    return session_.takeReceived();
}

base::Error TlsLink::send(int fd, std::string_view plain)
{
    if (base::Error error = session_.send(plain); !error.ok()) {
        return error;
    }
    waiting_ += session_.takeOutput();
    return flush(fd);
}

base::Error TlsLink::flush(int fd)
{
    while (sent_ < waiting_.size()) {
        const ssize_t n = ::send(fd, waiting_.data() + sent_, waiting_.size() - sent_,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return {};
            }
            return base::Error::fromErrno();
        }
        sent_ += static_cast<std::size_t>(n);
    }
    waiting_.clear();
    sent_ = 0;
    return {};
}

void TlsLink::close(int fd)
{
    if (session_.state() == tls::TlsSession::State::Open) {
        session_.close();
        waiting_ += session_.takeOutput();
    }
    (void)flush(fd);
}

bool TlsLink::takeOpened()
{
    if (opened_ || session_.state() != tls::TlsSession::State::Open) {
        return false;
    }
    opened_ = true;
    return true;
}

} // namespace devicetools
