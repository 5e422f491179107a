#pragma once

#include "hostlookup.h"
#include "ioresult.h"
#include "socketaddress.h"

#include <cstdint>

namespace net
{

// The single socket calls behind the channel's reads and writes, with typed
// results (ioresult.h) and no state: any thread may call them for a socket it
// may use. Calls interrupted by a signal are resumed. None of them touches the
// thread's last-error code; reportAsCount() does that at the public edge.

// Plain mode: bytes already waiting are taken at once; only an empty socket is
// waited on, at most `timeoutMs` (kNoTimeout: no limit). A count
// (1..capacity), TimedOut, PeerClosed (end of stream, or a datagram without
// data) or the failure.
IoResult receivePlain(SocketHandle socket, std::uint8_t* into, std::uint32_t capacity,
                      std::uint32_t timeoutMs);

// Address-header mode: waits at most `timeoutMs`, then reads one datagram (or
// one block of a stream) into `into` and its sender into `sender` (all zero
// when the socket names none, as a stream does). A count (0..capacity: an
// empty datagram counts 0), TimedOut, PeerClosed (end of stream or shutdown:
// 0 bytes without a sender) or the failure.
IoResult receiveFrom(SocketHandle socket, std::uint8_t* into, std::uint32_t capacity,
                     SocketAddress& sender, std::uint32_t timeoutMs);

// Sends at once (the caller has waited for room); MSG_NOSIGNAL, so a peer that
// has gone fails with EPIPE instead of a SIGPIPE. A count or the failure.
IoResult sendPlain(SocketHandle socket, const std::uint8_t* bytes, std::uint32_t length);
IoResult sendTo(SocketHandle socket, const std::uint8_t* bytes, std::uint32_t length,
                const SocketAddress& to);

// Sends without waiting, and only while the socket's send queue holds less
// than half its buffer with `length` more bytes in it (or nothing at all): a
// send then takes the whole block, where one into a nearly full buffer may
// take only its first part. The count taken (normally `length`), NoRoomNow
// when there is no such room now, or the failure. MSG_NOSIGNAL.
IoResult sendWithRoom(SocketHandle socket, const std::uint8_t* bytes, std::uint32_t length);

// A stream socket sends each block at once instead of holding a small one
// back until the peer has acknowledged the one before (Nagle's algorithm:
// against a peer that delays its acknowledgements, a command or an automatic
// answer would wait 40 ms or more). Other sockets are left as they are; a
// socket that refuses keeps the system's way, its sends still go out.
void sendBlocksAtOnce(SocketHandle socket);

// The public convention: a count gives itself, TimedOut (and NoRoomNow) 0,
// PeerClosed -1, any other failure -1 with the thread's last-error code set to
// the result's code (as does a TimedOut whose wait failed). `extra` is added
// to a count (the header).
std::int32_t reportAsCount(const IoResult& result, std::uint32_t extra = 0);

} // namespace net
