#include "sessionrecord.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace devicetools
{

namespace
{

// A host as the records name it before its port: an IPv6 address in
// brackets, as the record readers take it.
std::string recordHost(const std::string& host)
{
    return host.find(':') == std::string::npos ? host : '[' + host + ']';
}

} // namespace

SessionRecord::SessionRecord(bool record) : traffic_(std::make_shared<traffic::TrafficBuffer>())
{
    if (record) {
        recorder_.setSinks({traffic_});
    }
}

void SessionRecord::dialing(const check::Target& target, int type)
{
    net::ConnectRequest request;
    request.host = recordHost(target.host);
    request.service = std::to_string(target.port);
    request.family = target.addresses.empty() ? AF_UNSPEC : target.addresses.front().family();
    request.type = type;
    recorder_.connectStarted(request);
}

void SessionRecord::accepted(const net::Endpoint& peer, int type, const SecureLink* link)
{
    net::ConnectRequest request;
    request.host = recordHost(peer.addressText());
    request.service = std::to_string(peer.port());
    request.family = peer.family();
    request.type = type;
    recorder_.connectStarted(request);
    recorder_.channelEvent(net::ChannelEvent::ConnectionEstablished, {});
    if (link != nullptr) {
        recorder_.note(link->description());
    }
}

net::ConnectedSocket SessionRecord::connected(net::ConnectedSocket socket, bool ipv4,
                                              check::Millis elapsed)
{
    net::SocketAddress local;
    if (ipv4) {
        socklen_t length = net::SocketAddress::kSize;
        ::getsockname(socket.handle(), local.asSockaddr(), &length);
    }
    net::ConnectOutcome outcome;
    outcome.error = {};
    outcome.socket = net::ConnectedSocket(socket.release(), local);
    outcome.elapsed = elapsed;
    recorder_.connectEnded(outcome);
    return std::move(outcome.socket);
}

void SessionRecord::connectFailed(const base::Error& error, check::Millis elapsed)
{
    net::ConnectOutcome outcome;
    outcome.error = error;
    outcome.elapsed = elapsed;
    recorder_.connectEnded(outcome);
}

void SessionRecord::read(std::string_view bytes)
{
    recorder_.blockRead(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                        static_cast<std::uint32_t>(bytes.size()), {});
}

} // namespace devicetools
