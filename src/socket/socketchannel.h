#pragma once

#include "addressheaderio.h"
#include "channelobserver.h"
#include "connectattempt.h"
#include "connectedsocket.h"
#include "hostlookup.h"
#include "ioresult.h"
#include "sendqueue.h"
#include "socketaddress.h"
#include "socketwait.h"
#include "watcherthread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace net
{

// One socket and, once started, one watcher thread that reads from it and
// hands what arrives to two virtual hooks.
//
// Threads. Every public operation is called from the owner's thread (the
// console's UI thread), one at a time. The watcher thread runs runLoop(),
// readBlock() and the hooks; hooks may also call writeBlock(). The send
// queue's writer thread (sendBlock()) writes what waits, between the first
// block that cannot go out at once and releaseSocket() or stop(). The held
// socket is one atomic value: the watcher reads it at every turn (and in
// server role swaps in the accepted socket), releaseSocket() clears it from
// the owner's thread and shuts the socket down, which wakes the watcher at
// once. While a watcher is recorded, released descriptors are closed only by
// stop() after it has joined the watcher, so no number is reused under it;
// the send queue's writer has ended before releaseSocket() returns.
// The peer list (address-header mode) guards itself with its own mutex.
//
// States, derived from hasSocket() and hasWatcher():
//   Closed   (no socket, no watcher)   construction; stop() or detachSocket()
//                                      from any state
//   Open     (socket, no watcher)      openClient(), adoptClient(), adoptSocket()
//                                      or adoptAccepted() returning true
//   Watching (socket, running watcher) startWatcher() returning true
//   Ended    (socket, ended watcher)   the watcher returned by itself after
//                                      ConnectionDropped or ConnectionFailed;
//                                      the socket stays held until stop(); writes
//                                      still work, openClient(), adoptSocket(),
//                                      startWatcher() and the mode setters refuse
//
// Hook contract, for every class that overrides handleBlock or handleEvent:
// - hooks run only on the watcher thread, one call at a time, and never after
//   stop() has returned;
// - every wait inside a hook is bounded (the console's view waits at most
//   1000 ms per append). stop() waits kWatcherWaitMs for the watcher after
//   releasing the socket; POSIX has no safe way to end a thread by force, so a
//   hook that breaks this promise makes stop() wait on until the hook returns:
//   stop() is then late, but no hook ever runs after it and no thread
//   outlives its channel.
// - A class that overrides the hooks calls stop() in its own destructor, so
//   that no hook runs while its members are being destroyed.
//
// Results: nothing throws. Operations report true/false, or a signed count in
// which 0 means nothing happened within the time-out and -1 a failure (with the
// thread's last-error code set, see lasterror.h).
class SocketChannel
{
public:
    // Time-outs are milliseconds; kNoTimeout waits without limit.
    static constexpr std::uint32_t kNoTimeout = net::kNoTimeout;
    static constexpr std::uint32_t kHeaderSize = AddressHeaderIo::kHeaderSize; // 16
    static constexpr std::uint32_t kDataCapacity = 2048; // data bytes per block
    static constexpr std::uint32_t kBufferSize = kHeaderSize + kDataCapacity; // 2064
    static constexpr std::uint32_t kReadTimeoutMs = 100;  // the watcher's read time-out
    static constexpr std::uint32_t kReleasePauseMs = 50;  // stop(): pause after releasing
    static constexpr std::uint32_t kWatcherWaitMs = 5000; // stop(): wait for the watcher
    // openClient(): TCP connect bound (shortened only by tests, see ConnectAttempt).
    static constexpr std::uint32_t kConnectTimeoutMs = ConnectAttempt::kDefaultConnectBoundMs;
    static constexpr std::uint32_t kBroadcastAddress = AddressHeaderIo::kBroadcastAddress;

    SocketChannel();
    // Stops the channel as stop() does, then discards the peer list.
    virtual ~SocketChannel();
    SocketChannel(const SocketChannel&) = delete;
    SocketChannel& operator=(const SocketChannel&) = delete;

    bool hasSocket() const;
    bool hasWatcher() const;
    SocketHandle socketHandle() const;

    bool isServerRole() const;
    bool usesAddressHeaders() const;
    // Both setters are silently ignored while a watcher is recorded (also one
    // that has ended by itself), until stop(); setAddressHeaders() also while
    // the send queue's writer runs.
    void setServerRole(bool on);
    void setAddressHeaders(bool on);

    // The observer told about every connect, write, read, event and
    // disconnect (channelobserver.h); nullptr (the default) for none, which
    // costs a pointer test. Not owned: it must outlive the channel's last
    // stop() (the destructor's included). Like the mode setters, ignored while
    // a watcher is recorded or the send queue's writer runs, so both read it
    // without a lock. A caller
    // that connects through a ConnectAttempt and adoptClient() tells the
    // observer of the attempt itself (connectStarted, connectEnded).
    void setObserver(ChannelObserver* observer);
    ChannelObserver* observer() const { return observer_; }

    // Snapshot of the peer list (address-header mode), most recently heard last.
    std::vector<SocketAddress> peers();

    // Fills `local` with the held socket's own address. False when no socket
    // is held or the query fails. An IPv6 address has no IPv4 form: only the
    // family and port are filled then, the address left 0.
    bool queryLocalAddress(SocketAddress& local) const;

    // Opens a connected client socket (family AF_INET; type SOCK_STREAM or
    // SOCK_DGRAM) to `host`:`service`. False when a socket is held already
    // (nothing changes) or any step fails (the new socket is closed, the
    // channel holds none). A TCP connect gives up after kConnectTimeoutMs.
    // The socket is bound first to ConnectAttempt::clientBindAddress() of the local host's
    // first address (port 0) and the server's address. The same steps as a
    // ConnectAttempt, run on the calling thread.
    bool openClient(const char* host, const char* service, int family, int type);

    // Holds the socket of a finished ConnectAttempt (or connectNow()), on the
    // owner's thread; from then on the channel behaves exactly as after an
    // openClient() that returned true. False when a socket is held already or
    // `connected` holds none: `connected` then keeps its socket (and closes it
    // when destroyed).
    bool adoptClient(ConnectedSocket&& connected);

    // Holds a socket made elsewhere, e.g. a listening socket for the server
    // role or an unconnected datagram socket for address-header mode. The
    // channel owns it from now on. False (and the socket is not taken) when a
    // socket is held already or `socket` is kInvalidSocket.
    bool adoptSocket(SocketHandle socket);

    // Holds a connected socket that a listener elsewhere accepted, as the
    // server role would have: the watcher's first step raises
    // ConnectionEstablished (without accepting) and it then reads the socket
    // as in any role. The channel owns the socket from now on. False (the
    // socket is not taken) when a socket is held already, a watcher is
    // recorded or `socket` is kInvalidSocket. The flag ends with the
    // connection (stop(), detachSocket()).
    bool adoptAccepted(SocketHandle socket);

    // Hands the held socket back to the caller, open and untouched: no
    // shutdown, no event raised, nothing read from it any more. The watcher
    // ends within its read time-out (kReadTimeoutMs; at most kWatcherWaitMs is
    // waited) before the socket is returned, so every byte it has not read is
    // still in the socket's buffer for the next owner. Blocks still waiting in
    // the send queue are dropped (reported Closed). The observer is told
    // disconnected(). kInvalidSocket when none is held.
    SocketHandle detachSocket();

    // Shuts the held socket down and forgets it; this wakes a watcher blocked
    // on it at once. Then ends the send queue's writer and drops what still
    // waits to be sent (reported Closed). The descriptor itself is closed only
    // once no watcher can use it any more, so its number is never reused
    // under the watcher.
    void releaseSocket();

    // Starts the watcher thread. False when a watcher is recorded already, no
    // socket is held, or the thread cannot be started.
    bool startWatcher();

    // Ends everything the channel holds: releases the socket, pauses
    // kReleasePauseMs, waits for the watcher (see the hook contract) and empties
    // the peer list. The mode flags keep their values.
    // May be called at any time, any number of times.
    void stop();

    // Reads one block into `buffer`. Returns the bytes read (in address-header
    // mode counting the 16-byte sender header), 0 when nothing came within the
    // time-out (or for no buffer / capacity 0, or when the wait fails or no
    // socket is held), -1 on failure: an error, an orderly close of a stream,
    // or in plain mode a datagram without data. A wait or read interrupted by
    // a signal is resumed. Called by the watcher; tests may call it on a
    // channel without a watcher.
    std::int32_t readBlock(void* buffer, std::uint32_t capacity, std::uint32_t timeoutMs);

    // Writes one block. Returns the bytes written (in address-header mode the
    // payload, without the header), 0 when no socket is held, there is no data,
    // or the socket did not become writable within the time-out, -1 on failure.
    // A write to a peer that has gone returns -1; it never raises SIGPIPE.
    // Address-header mode: the first 16 bytes name the destination (below 16
    // bytes: -1, last-error 1784); destination 255.255.255.255 sends to every
    // peer in the list and returns length - 16 whatever the single sends gave.
    std::int32_t writeBlock(const void* data, std::uint32_t length, std::uint32_t timeoutMs);

    // readBlock() and writeBlock() typed, for this system's own programs: the
    // count (as the blocks count it), TimedOut (with the errno of a wait that
    // failed), PeerClosed (an orderly close; for write() also no socket held)
    // or the failure. They leave the last-error code alone.
    [[nodiscard]] IoResult read(void* buffer, std::uint32_t capacity, std::uint32_t timeoutMs);
    [[nodiscard]] IoResult write(const void* data, std::uint32_t length, std::uint32_t timeoutMs);

    // Sends one block through the channel's send queue (sendqueue.h), never
    // waiting: at once in one write when the socket takes all of it and
    // nothing waits ahead, else by the queue's writer thread behind every
    // block sent before it, within SendQueue::kMessageLimit while at most
    // SendQueue::kMaxWaitingBytes wait, or dropped. Whole blocks only: in
    // plain mode a block is written while the socket's buffer has room for
    // all of it. Every block is reported to the observer once, when it has
    // gone out or been dropped, with the queue's reason. Dropped without a
    // report when no socket is held or there is no data. Blocks sent here and
    // through writeBlock() keep no order between each other.
    [[nodiscard]] SendQueue::Outcome sendBlock(const void* data, std::uint32_t length);
    // The send queue's totals (any thread): blocks sent, dropped, waiting.
    SendQueue::Counts sendCounts() const { return sendQueue_.counts(); }

protected:
    // A block was received: `data` lies at the start of the watcher's read area
    // (kDataCapacity bytes in plain mode, kBufferSize with address headers),
    // is valid only during the call and may be written anywhere in that area.
    // Plain mode: length 1..2048. Address-header mode: the sender's header
    // first, length 17..2064.
    // This base version only reports the block to the observer; a class that
    // overrides it calls reportRead() before it changes the block.
    virtual void handleBlock(std::uint8_t* data, std::uint32_t length);
    // A connection event (see ChannelEvent).
    virtual void handleEvent(ChannelEvent event);
    // The watcher's body: reads with kReadTimeoutMs until no socket is held, a
    // read fails (ConnectionDropped) or, in server role, accepting fails.
    virtual void runLoop();
    // Tells the observer, if any, of a block as read and the hook's verdict.
    void reportRead(const std::uint8_t* data, std::uint32_t length, std::string_view verdict);

private:
    void closeReleased();
    // Waits for the watcher (once its socket was `how`: released, detached)
    // and joins it, then closes what was released and forgets the peers.
    void endWatcher(const char* how);
    // Tells the observer, then calls handleEvent().
    void raiseEvent(ChannelEvent event, const base::Error& error = {});
    // One read in the current mode; no socket held reads as TimedOut. The
    // count in address-header mode leaves out the header written before it.
    IoResult readInto(std::uint8_t* bytes, std::uint32_t capacity, std::uint32_t timeoutMs);
    // The send queue's write: what the held socket takes now, without waiting.
    IoResult writeNow(const std::uint8_t* bytes, std::uint32_t length);

    std::atomic<SocketHandle> socket_{kInvalidSocket};
    std::unique_ptr<WatcherThread> watcher_;
    bool serverRole_ = false;
    bool addressHeaders_ = false;
    // adoptAccepted(): the watcher announces the connection instead of
    // accepting one. Set before the watcher starts, cleared after it ended.
    bool acceptedElsewhere_ = false;
    ChannelObserver* observer_ = nullptr;
    AddressHeaderIo addressed_; // the peer list of address-header mode
    // Descriptors released while a watcher may still use them; closed by stop()
    // once the watcher has ended.
    std::vector<SocketHandle> pendingClose_;
    // Uses the socket and the observer: declared after them.
    SendQueue sendQueue_;
};

} // namespace net
