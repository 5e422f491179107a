#pragma once

#include "hostlookup.h"
#include "ioresult.h"
#include "peerlist.h"
#include "socketaddress.h"

#include <cstdint>
#include <vector>

namespace net
{

// A channel's reads and writes in address-header mode: every block starts
// with a 16-byte SocketAddress naming its sender (read) or destination
// (write), and the peers heard from are kept in a PeerList, so that a write
// to kBroadcastAddress goes to each of them.
//
// Threads: read() on the watcher thread, write() on the owner's thread or
// the send queue's writer; the peer list guards itself, so all may run at
// once. No call waits longer than the time-out it is given.
class AddressHeaderIo
{
public:
    static constexpr std::uint32_t kHeaderSize = SocketAddress::kSize; // 16
    static constexpr std::uint32_t kBroadcastAddress = 0xFFFFFFFFu;    // "every peer"

    // Waits at most `timeoutMs`, then reads one datagram behind the header
    // room at `bytes` and writes its sender's header there. The count
    // leaves out the header. A `capacity` below the header fails with
    // AddressHeaderMissing once something waits to be read.
    IoResult read(SocketHandle socket, std::uint8_t* bytes, std::uint32_t capacity,
                  std::uint32_t timeoutMs);
    // Sends the payload behind the header (below 16 bytes: AddressHeaderMissing)
    // to the address it names, or to every peer. The count leaves out the
    // header; to every peer it is the payload's size whatever the single
    // sends gave.
    IoResult write(SocketHandle socket, const std::uint8_t* bytes, std::uint32_t length);

    std::vector<SocketAddress> peers() const { return peers_.snapshot(); }
    void clear() { peers_.clear(); }

private:
    PeerList peers_;
};

} // namespace net
