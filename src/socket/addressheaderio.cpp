#include "addressheaderio.h"

#include "blockio.h"
#include "socketwait.h"

#include <arpa/inet.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace net
{

IoResult AddressHeaderIo::read(SocketHandle socket, std::uint8_t* bytes, std::uint32_t capacity,
                               std::uint32_t timeoutMs)
{
    if (capacity < kHeaderSize) {
        // Like a read, the short buffer is reported only once something waits.
        const base::Error wait = waitUntilReady(socket, SocketWait::Readable, timeoutMs);
        if (!wait.ok())
            return ioTimedOut(wait);
        return IoResult(base::Error(base::Fault::AddressHeaderMissing));
    }
    SocketAddress sender;
    const IoResult result =
        receiveFrom(socket, bytes + kHeaderSize, capacity - kHeaderSize, sender, timeoutMs);
    if (result.ok()) {
        peers_.heard(sender);
        std::memcpy(bytes, &sender, kHeaderSize);
    } else if (endsConnection(result)) {
        peers_.forget(sender);
    }
    return result;
}

IoResult AddressHeaderIo::write(SocketHandle socket, const std::uint8_t* bytes,
                                std::uint32_t length)
{
    if (length < kHeaderSize)
        return IoResult(base::Error(base::Fault::AddressHeaderMissing));
    SocketAddress destination;
    std::memcpy(&destination, bytes, kHeaderSize);
    const std::uint8_t* payload = bytes + kHeaderSize;
    const std::uint32_t payloadLength = length - kHeaderSize;
    if (destination.address != htonl(kBroadcastAddress))
        return sendTo(socket, payload, payloadLength, destination);
    // To every peer: one that cannot be reached any more leaves the list, and
    // the caller hears of the payload as sent whatever the single sends gave.
    peers_.sendToEach(
        [&](const SocketAddress& to) { return sendTo(socket, payload, payloadLength, to).ok(); });
    return IoResult(std::min<std::uint32_t>(payloadLength, INT32_MAX));
}

} // namespace net
