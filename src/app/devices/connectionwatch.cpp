#include "connectionwatch.h"

#include "host/deviceintake.h"
#include "protocol/delimiterset.h"
#include "socket/socketaddress.h"

#include <sys/socket.h>

namespace app
{

ConsoleConnection ConnectionWatch::current() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return connection_;
}

void ConnectionWatch::deviceSeated(int fd, const net::Endpoint& peer, bool udp, bool bridged)
{
    net::ConnectRequest request;
    // An IPv6 address in brackets, so that the record's port stays apart.
    request.host = peer.family() == AF_INET6 ? "[" + peer.addressText() + "]" : peer.addressText();
    request.service = std::to_string(peer.port());
    request.family = peer.family();
    request.type = udp ? SOCK_DGRAM : SOCK_STREAM;
    net::SocketAddress local;
    socklen_t length = net::SocketAddress::kSize;
    // The record's own address form holds IPv4 only.
    if (udp || bridged || peer.family() != AF_INET ||
        ::getsockname(fd, local.asSockaddr(), &length) != 0)
        local = net::SocketAddress{};
    net::ConnectOutcome outcome;
    outcome.error = base::Error{};
    outcome.socket = net::ConnectedSocket(fd, local);
    connectStarted(request);
    connectEnded(outcome);
    // The socket stays the caller's.
    static_cast<void>(outcome.socket.release());
}

void ConnectionWatch::connectStarted(const net::ConnectRequest& request)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        connection_ = ConsoleConnection{};
        connection_.state = ConsoleConnection::State::Connecting;
        connection_.udp = request.type == SOCK_DGRAM;
        connection_.target = request.host.value_or("") + ":" + request.service.value_or("");
        connection_.since = std::chrono::system_clock::now();
        frames_.reset();
    }
    inner_.connectStarted(request);
}

void ConnectionWatch::connectEnded(const net::ConnectOutcome& outcome)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        connection_.since = std::chrono::system_clock::now();
        if (outcome.connected()) {
            connection_.state = ConsoleConnection::State::Connected;
        } else {
            connection_.state = ConsoleConnection::State::Refused;
            connection_.why = outcome.error.text();
        }
    }
    inner_.connectEnded(outcome);
}

void ConnectionWatch::blockWritten(const std::uint8_t* data, std::uint32_t length,
                                   const net::IoResult& result)
{
    if (result.ok()) {
        const std::lock_guard<std::mutex> lock(mutex_);
        connection_.bytesOut += *result;
    }
    inner_.blockWritten(data, length, result);
}

void ConnectionWatch::blockRead(const std::uint8_t* data, std::uint32_t length,
                                std::string_view verdict)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        connection_.bytesIn += length;
        const std::string_view bytes(reinterpret_cast<const char*>(data), length);
        frames_.setMode(protocol::DelimiterSet::instance().mode());
        items_.clear();
        if (connection_.udp)
            frames_.feedDatagram(bytes, items_);
        else
            frames_.feed(bytes, items_);
        if (const std::string_view last = host::DeviceIntake::lastRecordItem(items_); !last.empty())
            connection_.lastFrame.assign(last.substr(0, kLastFrameChars));
    }
    inner_.blockRead(data, length, verdict);
}

void ConnectionWatch::channelEvent(net::ChannelEvent event, const base::Error& error)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (event == net::ChannelEvent::ConnectionEstablished) {
            connection_.state = ConsoleConnection::State::Connected;
        } else if (event == net::ChannelEvent::ConnectionDropped) {
            if (error.fault() == base::Fault::PeerClosed) {
                connection_.state = ConsoleConnection::State::ClosedByDevice;
            } else {
                connection_.state = ConsoleConnection::State::Dropped;
                connection_.why = error.text();
            }
        }
    }
    inner_.channelEvent(event, error);
}

void ConnectionWatch::disconnected()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (connection_.state == ConsoleConnection::State::Connected ||
            connection_.state == ConsoleConnection::State::Connecting)
            connection_.state = ConsoleConnection::State::ClosedHere;
    }
    inner_.disconnected();
}

} // namespace app
