#pragma once

#include "socket/addresslookup.h"

namespace app
{

class ConsoleDialog;

// The command line's --connect, done in the console. An IPv4 address goes
// into the server address control, a port given into the port field, and
// Connect is pressed as an operator would (so the console's own IPv4 steps
// run). A host name or an IPv6 address is connected through
// ConsoleDialog::connectTo(), the address control left as it is. Either way
// the connect runs in the background, of the type the TCP and UDP buttons
// say. UI thread; call once the console exists (ClientApp calls it from the
// event loop, the console shown).
void connectAtStart(ConsoleDialog& console, const net::HostAndPort& target);

} // namespace app
