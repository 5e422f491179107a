#pragma once

#include "socketaddress.h"

#include <functional>
#include <mutex>
#include <vector>

namespace net
{

// The peers an address-header channel has heard from, most recently heard
// last, each endpoint at most once. Every operation takes the list's own
// mutex for its whole length, so the watcher thread (which records senders)
// and the owner's thread (which writes to every peer) may use it at once.
class PeerList
{
public:
    // Moves `sender` to the end of the list, adding it when new.
    void heard(const SocketAddress& sender);
    // Takes `sender` out of the list, if it is there.
    void forget(const SocketAddress& sender);
    // Calls `send` for every peer, in order, and drops those it returns false
    // for. `send` runs under the list's mutex and must not use the list.
    void sendToEach(const std::function<bool(const SocketAddress&)>& send);
    std::vector<SocketAddress> snapshot() const;
    void clear();

private:
    void eraseEndpoint(const SocketAddress& sender);
    mutable std::mutex mutex_;
    std::vector<SocketAddress> peers_;
};

} // namespace net
