#include "dialogseat.h"

#include "consoleconnector.h"
#include "consoletexts.h"

#include "app/devices/consolehost.h"

namespace app
{

DialogSeat::DialogSeat(protocol::MessageViewChannel& channel, const ConsoleConnector& connector,
                       ConnectionWatch& watch, traffic::RecordingControl& recording, Hooks hooks)
    : channel_(channel), connector_(connector), watch_(watch), recording_(recording),
      hooks_(std::move(hooks))
{
}

bool DialogSeat::seatTaken() const
{
    return channel_.hasSocket() || connector_.pending();
}

bool DialogSeat::seatDevice(int fd, const net::Endpoint& peer, bool udp, bool switched,
                            const host::TlsFacts& tls)
{
    if (seatTaken())
        return false;
    if (switched)
        channel_.appendToView(consoletexts::deviceChosenLine(peer.text()));
    // The record hears of the device as of a connect: its files are named by
    // the device's address. A TLS device's socket is the bridge's.
    watch_.deviceSeated(fd, peer, udp, tls.on());
    if (tls.on())
        recording_.recorder().note("TLS " + tls.text());
    if (!channel_.adoptAccepted(fd))
        return false;
    if (!hooks_.startWatcher()) {
        static_cast<void>(channel_.detachSocket());
        return false;
    }
    hooks_.connected();
    return true;
}

int DialogSeat::unseatDevice()
{
    hooks_.showQueued();
    const int fd = channel_.detachSocket();
    hooks_.ended();
    return fd;
}

bool DialogSeat::connectTo(const QString& host, const QString& port)
{
    return hooks_.connectTo(host, port);
}

void DialogSeat::deviceGone(ConsoleHost& host)
{
    const ConsoleConnection connection = watch_.current();
    hooks_.stopChannel();
    hooks_.ended();
    host.consoleEnded(connection.state == ConsoleConnection::State::ClosedByDevice
                          ? host::DeviceState::ClosedByDevice
                          : host::DeviceState::Dropped,
                      connection.why);
}

} // namespace app
