#include "udpport.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace host
{

namespace
{

constexpr int kDatagramsPerTurn = 64;

} // namespace

UdpPort::UdpPort(net::EventLoop& loop, Datagram onDatagram, Relayed onRelayed)
    : loop_(loop), onDatagram_(std::move(onDatagram)), onRelayed_(std::move(onRelayed))
{
}

UdpPort::~UdpPort()
{
    close();
}

base::Result<net::Endpoint> UdpPort::open(const net::Endpoint& where)
{
    close();
    const int fd = ::socket(where.family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return base::Error::fromErrno("UDP socket");
    // No SO_REUSEADDR: on UDP it would let two programs share the port (and
    // its datagrams) instead of refusing the second.
    if (::bind(fd, where.address(), where.length) != 0) {
        const base::Error error = base::Error::fromErrno(where.text());
        ::close(fd);
        return error;
    }
    if (const base::Error watched =
            loop_.watch(fd, net::EventLoop::WantRead, [this](std::uint32_t) { readable(); });
        !watched.ok()) {
        ::close(fd);
        return watched;
    }
    fd_ = fd;
    local_ = net::Endpoint::localOf(fd);
    return local_;
}

void UdpPort::close()
{
    while (!relays_.empty())
        closeRelay(relays_.begin()->first);
    if (fd_ < 0)
        return;
    loop_.unwatch(fd_);
    ::close(fd_);
    fd_ = -1;
    local_ = {};
}

void UdpPort::readable()
{
    for (int i = 0; i < kDatagramsPerTurn && fd_ >= 0; ++i) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t got = ::recvfrom(fd_, loop_.scratch(), net::EventLoop::kScratchBytes,
                                       MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0)
            return; // EAGAIN: all read; anything else is told again next turn
        onDatagram_(net::Endpoint::from(reinterpret_cast<const sockaddr*>(&from), length),
                    std::string_view(loop_.scratch(), static_cast<std::size_t>(got)));
    }
}

base::Error UdpPort::sendTo(const net::Endpoint& peer, std::string_view bytes)
{
    if (fd_ < 0)
        return base::Error::system(ENOTCONN, "UDP socket");
    // A datagram goes whole or not at all.
    const ssize_t sent = ::sendto(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                                  peer.address(), peer.length);
    if (sent < 0)
        return base::Error::fromErrno();
    return {};
}

base::Result<int> UdpPort::openRelay(std::uint64_t id, const net::Endpoint& peer)
{
    closeRelay(id);
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        return base::Error::fromErrno("socketpair");
    if (const base::Error watched = loop_.watch(pair[0], net::EventLoop::WantRead,
                                                [this, id](std::uint32_t) { relayReadable(id); });
        !watched.ok()) {
        ::close(pair[0]);
        ::close(pair[1]);
        return watched;
    }
    relays_[id] = Relay{pair[0], peer};
    return pair[1];
}

void UdpPort::toRelay(std::uint64_t id, std::string_view datagram)
{
    const auto found = relays_.find(id);
    if (found != relays_.end())
        static_cast<void>(::send(found->second.fd, datagram.data(), datagram.size(),
                                 MSG_DONTWAIT | MSG_NOSIGNAL));
}

void UdpPort::relayReadable(std::uint64_t id)
{
    for (int i = 0; i < kDatagramsPerTurn; ++i) {
        const auto found = relays_.find(id);
        if (found == relays_.end())
            return;
        const ssize_t got =
            ::recv(found->second.fd, loop_.scratch(), net::EventLoop::kScratchBytes, MSG_DONTWAIT);
        if (got > 0) {
            const std::string_view datagram(loop_.scratch(), static_cast<std::size_t>(got));
            if (sendTo(found->second.peer, datagram).ok() && onRelayed_)
                onRelayed_(id, datagram.size());
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        // The console closed its end: it tells the host how (giveBack,
        // handedDeviceEnded).
        closeRelay(id);
    }
}

void UdpPort::closeRelay(std::uint64_t id)
{
    const auto found = relays_.find(id);
    if (found == relays_.end())
        return;
    loop_.unwatch(found->second.fd);
    ::close(found->second.fd);
    relays_.erase(found);
}

} // namespace host
