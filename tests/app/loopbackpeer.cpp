#include "loopbackpeer.h"

#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

constexpr int kReadSize = 4096;

template <typename Call> auto retryOnInterrupt(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

} // namespace

LoopbackPeer::LoopbackPeer(Kind kind) : kind_(kind)
{
    const int type = kind == Kind::Tcp ? SOCK_STREAM : SOCK_DGRAM;
    socket_ = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (kind == Kind::Tcp && ::listen(socket_, 4) != 0) ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(socket_);
        socket_ = -1;
        return;
    }
    port_ = ntohs(address.sin_port);
}

LoopbackPeer::~LoopbackPeer()
{
    closeConnection();
    if (socket_ >= 0)
        ::close(socket_);
}

bool LoopbackPeer::waitReadable(int socket, int timeoutMs) const
{
    pollfd entry{socket, POLLIN, 0};
    const int ready = retryOnInterrupt([&] { return ::poll(&entry, 1, timeoutMs); });
    return ready > 0;
}

bool LoopbackPeer::accept(int timeoutMs)
{
    if (kind_ != Kind::Tcp || socket_ < 0 || !waitReadable(socket_, timeoutMs))
        return false;
    closeConnection();
    connection_ =
        retryOnInterrupt([&] { return ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC); });
    return connection_ >= 0;
}

bool LoopbackPeer::receive(QByteArray& data, int timeoutMs, std::uint16_t* senderPort)
{
    data.clear();
    const int socket = kind_ == Kind::Tcp ? connection_ : socket_;
    if (socket < 0 || !waitReadable(socket, timeoutMs))
        return false;
    data.resize(kReadSize);
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    const ssize_t got = retryOnInterrupt([&] {
        return ::recvfrom(socket, data.data(), static_cast<size_t>(data.size()), 0,
                          reinterpret_cast<sockaddr*>(&sender), &length);
    });
    if (got <= 0 && !(kind_ == Kind::Udp && got == 0)) {
        data.clear();
        return false;
    }
    data.resize(static_cast<qsizetype>(got));
    if (senderPort)
        *senderPort = ntohs(sender.sin_port);
    return true;
}

bool LoopbackPeer::waitForClose(int timeoutMs)
{
    // Whatever the console still sent is read and dropped until the end of
    // the stream shows.
    const QDeadlineTimer deadline(timeoutMs);
    while (connection_ >= 0 &&
           waitReadable(connection_, static_cast<int>(deadline.remainingTime()))) {
        char buffer[kReadSize];
        const ssize_t got =
            retryOnInterrupt([&] { return ::recv(connection_, buffer, sizeof buffer, 0); });
        if (got == 0 || (got < 0 && errno == ECONNRESET))
            return true;
        if (got < 0)
            return false;
    }
    return false;
}

bool LoopbackPeer::send(const QByteArray& data)
{
    if (connection_ < 0)
        return false;
    const ssize_t sent = retryOnInterrupt([&] {
        return ::send(connection_, data.constData(), static_cast<size_t>(data.size()),
                      MSG_NOSIGNAL);
    });
    return sent == data.size();
}

void LoopbackPeer::closeConnection()
{
    if (connection_ >= 0) {
        ::close(connection_);
        connection_ = -1;
    }
}
