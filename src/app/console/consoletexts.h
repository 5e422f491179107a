#pragma once

#include "socket/connectattempt.h"
#include "socket/socketaddress.h"

#include <QString>

#include <string>
#include <string_view>

namespace app
{

// The texts the console builds from what happened: the view's line after a
// connect, and the Connect button's tooltip after an attempt that did not
// connect. Pure; any thread.
namespace consoletexts
{

// "Connection established with server: <host> on port <port>" and CR LF.
std::string tcpConnectLine(std::string_view host, std::string_view port);
// "Socket created: IP: a.b.c.d, Port: n" and CR LF, from the socket's own
// address (network byte order).
std::string udpConnectLine(const net::SocketAddress& local);
// "Now serving device <address:port>" and CR LF: the operator made a device
// that called in the console's device (host mode).
std::string deviceChosenLine(std::string_view device);
// "Last attempt: <host>:<port> <TCP|UDP>, <reason> after <seconds, one
// decimal> s", e.g. "Last attempt: 192.168.0.50:21210 TCP, Connection refused
// after 0.0 s".
QString lastAttemptText(std::string_view host, std::string_view port, bool tcp,
                        const net::ConnectOutcome& outcome);

} // namespace consoletexts

} // namespace app
