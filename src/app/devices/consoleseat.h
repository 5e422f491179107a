#pragma once

#include "host/devicerow.h"
#include "socket/endpoint.h"

namespace app
{

// How host mode reaches the console (the dialog implements it): whether its
// channel is taken, and handing it a device's socket or taking it back.
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
};

} // namespace app
