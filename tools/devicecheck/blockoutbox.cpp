#include "blockoutbox.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

namespace devicetools
{

void BlockOutbox::clear()
{
    pending_.clear();
    written_ = 0;
}

base::Error BlockOutbox::writeTo(int fd)
{
    return write(fd, nullptr);
}

base::Error BlockOutbox::sendTo(int fd, const net::Endpoint& peer)
{
    return write(fd, &peer);
}

base::Error BlockOutbox::writeThrough(SecureLink& link, int fd)
{
    // The records hold each block as the check gave it; the session
    // encrypts it whole.
    for (const std::string& block : pending_) {
        recorder_.blockWritten(reinterpret_cast<const std::uint8_t*>(block.data()),
                               static_cast<std::uint32_t>(block.size()),
                               net::IoResult(static_cast<std::uint32_t>(block.size())));
        if (base::Error refused = link.send(block); !refused.ok()) {
            clear();
            return refused;
        }
    }
    clear();
    return link.flush(fd);
}

base::Error BlockOutbox::write(int fd, const net::Endpoint* peer)
{
    while (!pending_.empty()) {
        const std::string& block = pending_.front();
        const char* data = block.data() + written_;
        const std::size_t size = block.size() - written_;
        const ssize_t count =
            peer != nullptr ? ::sendto(fd, data, size, MSG_NOSIGNAL, peer->address(), peer->length)
                            : ::send(fd, data, size, MSG_NOSIGNAL);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return {};
            }
            const base::Error error = base::Error::fromErrno();
            recorder_.blockWritten(reinterpret_cast<const std::uint8_t*>(data),
                                   static_cast<std::uint32_t>(size), net::IoResult(error));
            return error;
        }
        recorder_.blockWritten(reinterpret_cast<const std::uint8_t*>(data),
                               static_cast<std::uint32_t>(count),
                               net::IoResult(static_cast<std::uint32_t>(count)));
        written_ += static_cast<std::size_t>(count);
        if (written_ >= block.size()) {
            pending_.pop_front();
            written_ = 0;
        }
    }
    return {};
}

} // namespace devicetools
