#pragma once

#include "host/devicerow.h"
#include "socket/endpoint.h"

#include <QString>

namespace app
{

// How host mode and the Devices window reach the console (the dialog
// implements it): whether its channel is taken, handing it a device's socket
// or taking it back, and a connect of its own to a host the window names.
// UI thread only.
class ConsoleSeat
{
public:
    virtual ~ConsoleSeat() = default;

    // True while the console holds a connection or makes one.
    virtual bool seatTaken() const = 0;
    // Makes the device on `fd` (now the console's: a connected TCP socket,
    // or for a UDP device the host's relay, see DeviceHost::Offer) the
    // console's device: its channel adopts it in the server role's way.
    // `switched`: the operator chose it (the view says so). `tls`: the TLS
    // session of a device that called in with TLS (`fd` is then a local
    // stream socket carrying its plaintext). False when the console could
    // not take it; the socket is then still the caller's.
    virtual bool seatDevice(int fd, const net::Endpoint& peer, bool udp, bool switched,
                            const host::TlsFacts& tls) = 0;
    // Hands the console's device's socket back, open (see
    // SocketChannel::detachSocket), the console left without a connection;
    // -1 when it holds none.
    virtual int unseatDevice() = 0;
    // Starts the console's own connect to `host` (a name, an IPv4 or an IPv6
    // address, brackets allowed) and `port` (empty: the console's port
    // field), of the socket type the console shows, in the background. False,
    // with nothing started, while the seat is taken.
    virtual bool connectTo(const QString& host, const QString& port) = 0;
};

} // namespace app
