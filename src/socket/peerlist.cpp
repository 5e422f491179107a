#include "peerlist.h"

#include <algorithm>

namespace net
{

void PeerList::heard(const SocketAddress& sender)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    eraseEndpoint(sender);
    peers_.push_back(sender);
}

void PeerList::forget(const SocketAddress& sender)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    eraseEndpoint(sender);
}

void PeerList::sendToEach(const std::function<bool(const SocketAddress&)>& send)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(peers_, [&](const SocketAddress& peer) { return !send(peer); });
}

std::vector<SocketAddress> PeerList::snapshot() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return peers_;
}

void PeerList::clear()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    peers_.clear();
}

void PeerList::eraseEndpoint(const SocketAddress& sender)
{
    std::erase_if(peers_, [&](const SocketAddress& peer) { return peer.sameEndpoint(sender); });
}

} // namespace net
