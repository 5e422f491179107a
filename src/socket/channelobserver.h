#pragma once

#include "base/error.h"
#include "connectattempt.h"
#include "ioresult.h"

#include <cstdint>
#include <string_view>

namespace net
{

// Code given to a channel's event hook.
enum class ChannelEvent : int {
    ConnectionEstablished = 0, // server role: an accepted connection replaced the listening socket
    ConnectionFailed = 1,      // server role: accepting failed while a socket was still held
    ConnectionDropped = 2,     // a read failed while a socket was still held
    ZeroLengthMessage = 3,     // address-header mode: a datagram without data arrived
};

// Told about a channel's traffic as it happens, e.g. to keep a record of it.
// Every call hands over a view of bytes that is valid only during the call;
// an observer copies what it keeps and never changes what the channel sends
// or shows. Calls come from the thread that acts: connects, writes and
// disconnects from the channel's owner (writes also from a hook on the
// watcher and from the send queue's writer), reads and events from the
// watcher; so an implementation is safe
// on any thread. It may make the watcher wait briefly, never the owner, and
// calls no channel operation (so the thread's last-error code that the
// caller reads after a failure stays as the failed step left it).
class ChannelObserver
{
public:
    virtual ~ChannelObserver() = default;

    // False while nothing would be kept of the reports: a channel may then
    // skip the work a report needs (such as copying a block first).
    virtual bool active() const { return true; }

    // A client connect starts (SocketChannel::openClient, or whoever runs a
    // ConnectAttempt for the channel) ...
    virtual void connectStarted(const ConnectRequest& request) = 0;
    // ... and ends: connected (outcome.socket holds the socket and its local
    // address), or not, with the error and the time taken.
    virtual void connectEnded(const ConnectOutcome& outcome) = 0;

    // A block handed to writeBlock() or sendBlock() while a socket was held
    // (address-header mode: the header first), and how the write ended: the
    // count written, TimedOut when the socket did not take it in time, or the
    // failure. A sent block is told once it has gone out or been dropped (see
    // SendQueue: SendQueueFull when its queue was full, TimedOut when it
    // waited too long, PeerClosed when the connection ended first, a count
    // short of `length` when the end cut it). Never waits: the send queue calls it
    // under its lock.
    virtual void blockWritten(const std::uint8_t* data, std::uint32_t length,
                              const IoResult& result) = 0;
    // A block exactly as read (address-header mode: the sender's header
    // first), before anything has changed it, and the verdict of the class
    // that handled it (empty when it gives none).
    virtual void blockRead(const std::uint8_t* data, std::uint32_t length,
                           std::string_view verdict) = 0;
    // A connection event; `error` is the failure behind a ConnectionDropped
    // (PeerClosed for an orderly close by the peer) or ConnectionFailed.
    virtual void channelEvent(ChannelEvent event, const base::Error& error) = 0;
    // stop() ended a connection: it released a socket or ended a watcher.
    virtual void disconnected() = 0;
};

} // namespace net
