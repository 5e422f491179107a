#include "syndroppinglistener.h"

#include "loopbacksocket.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

constexpr int kQueueLength = 0;
constexpr std::chrono::milliseconds kProbeWait{200};

// A non-blocking connect to `address`, left as it goes; the socket or -1.
int connectAway(const net::SocketAddress& address)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s >= 0)
        ::connect(s, address.asSockaddr(), net::SocketAddress::kSize);
    return s;
}

} // namespace

SynDroppingListener::SynDroppingListener() : listener_(kQueueLength)
{
    address_.buildFromText("127.0.0.1", listener_.portText().c_str(), AF_INET);
    // The first connects complete into the queue and fill it.
    for (int& filler : fillers_)
        filler = connectAway(address_);
}

SynDroppingListener::~SynDroppingListener()
{
    for (int filler : fillers_) {
        if (filler >= 0)
            ::close(filler);
    }
}

bool SynDroppingListener::dropsSyns() const
{
    int probe = connectAway(address_);
    if (probe < 0)
        return false;
    // Writable means the connect finished one way or the other.
    const bool finished = loopback::waitFor(probe, POLLOUT, kProbeWait);
    ::close(probe);
    return !finished;
}
