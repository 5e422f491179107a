#include "devicerecords.h"

#include <sys/socket.h>

namespace host
{

DeviceRecords::DeviceRecords(Transport transport, const net::Endpoint& peer)
    : buffer_(std::make_shared<traffic::TrafficBuffer>())
{
    recorder_.setSinks({buffer_});
    net::ConnectRequest request;
    request.host = peer.family() == AF_INET6 ? "[" + peer.addressText() + "]" : peer.addressText();
    request.service = std::to_string(peer.port());
    request.family = peer.family();
    request.type = transport == Transport::Udp ? SOCK_DGRAM : SOCK_STREAM;
    recorder_.connectStarted(request);
    recorder_.channelEvent(net::ChannelEvent::ConnectionEstablished, {});
}

void DeviceRecords::read(std::string_view bytes)
{
    recorder_.blockRead(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                        static_cast<std::uint32_t>(bytes.size()), {});
}

void DeviceRecords::written(std::string_view bytes, const base::Error& failure)
{
    const net::IoResult result = failure.ok()
                                     ? net::IoResult(static_cast<std::uint32_t>(bytes.size()))
                                     : net::IoResult(failure);
    recorder_.blockWritten(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                           static_cast<std::uint32_t>(bytes.size()), result);
}

void DeviceRecords::note(std::string_view text)
{
    recorder_.note(text);
}

void DeviceRecords::ended(DeviceState state, const std::string& why)
{
    if (state == DeviceState::ClosedByDevice)
        recorder_.channelEvent(net::ChannelEvent::ConnectionDropped,
                               base::Error(base::Fault::PeerClosed));
    else if (state == DeviceState::Dropped)
        recorder_.channelEvent(net::ChannelEvent::ConnectionDropped,
                               base::Error::input(base::Fault::System, {}, why));
    recorder_.disconnected();
}

void DeviceRecords::handOut(traffic::RecordSink& sink)
{
    buffer_->replayTo(sink);
}

} // namespace host
