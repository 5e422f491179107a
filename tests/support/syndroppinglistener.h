#pragma once

#include "loopbacktcpserver.h"

#include "socket/socketaddress.h"

#include <array>
#include <string>

// A loopback listener that never accepts and whose queue of pending
// connections is already full, so the system drops further SYNs: a connect to
// it hangs until it is abandoned or its bound runs out, as a connect to a
// device behind a firewall that drops packets does.
class SynDroppingListener
{
public:
    SynDroppingListener();
    ~SynDroppingListener();
    SynDroppingListener(const SynDroppingListener&) = delete;
    SynDroppingListener& operator=(const SynDroppingListener&) = delete;

    std::string portText() const { return listener_.portText(); }
    // False on a system that takes connects beyond a full queue: a probe
    // connect must still be pending after a short wait.
    bool dropsSyns() const;

private:
    LoopbackTcpServer listener_;
    net::SocketAddress address_;
    std::array<int, 4> fillers_{};
};
