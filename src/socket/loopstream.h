#pragma once

#include "endpoint.h"
#include "eventloop.h"

#include "base/error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace net
{

// One connected, non-blocking stream socket on an EventLoop, with a bounded
// output: send() writes what the socket takes at once and keeps the rest (at
// most Limits::maxQueuedBytes) until it has room. Reads take at most one
// buffer a turn, so a peer that floods shares the loop fairly with the
// others. A peer that takes no bytes for Limits::writeStall while output
// waits is given up (TimedOut).
//
// Ends: the close handler is told once, with PeerClosed for an orderly end
// of stream, TimedOut for a stalled peer, or the system's failure; the socket
// is closed before it is told. close() ends the stream without telling it.
//
// Threads: the loop's thread only. Handlers run on it; a handler may destroy
// the stream (nothing of it is used once a handler returns).
class LoopStream
{
public:
    struct Limits {
        std::size_t maxQueuedBytes = 256 * 1024;
        EventLoop::Millis writeStall{2000}; // 0: never given up
    };
    // Bytes as read, valid only during the call.
    using ReadHandler = std::function<void(std::string_view bytes)>;
    using CloseHandler = std::function<void(const base::Error& why)>;

    // Takes the connected socket `fd` (made non-blocking here; closed by the
    // stream). TCP_NODELAY is set: each block goes out at once.
    LoopStream(EventLoop& loop, int fd, Limits limits);
    LoopStream(EventLoop& loop, int fd) : LoopStream(loop, fd, Limits{}) {}
    ~LoopStream();
    LoopStream(const LoopStream&) = delete;
    LoopStream& operator=(const LoopStream&) = delete;

    // Sets the handlers and starts reading. The failure when the loop refuses
    // the descriptor (the stream is then closed).
    [[nodiscard]] base::Error start(ReadHandler onRead, CloseHandler onClose);

    // Sends `bytes` whole: at once as far as the socket takes them, the rest
    // behind what already waits. SendQueueFull (nothing taken) when the rest
    // would make more than maxQueuedBytes wait; PeerClosed once closed.
    [[nodiscard]] base::Error send(std::string_view bytes);
    // Stops or resumes reading (a peer we cannot keep up with waits in its
    // own buffers).
    void setReading(bool on);
    // Told each time the output that waited has all gone out (for a caller
    // that paused a source while it waited). It may destroy the stream.
    void setDrainHandler(std::function<void()> onDrained) { onDrained_ = std::move(onDrained); }
    // Ends the stream once what waits has gone out: shutdown for writing,
    // then the close handler is told PeerClosed when the peer closes too, or
    // after writeStall.
    void finish();
    // Closes the socket now, without telling the close handler.
    void close();

    bool open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const Endpoint& peer() const { return peer_; }
    std::size_t queuedBytes() const { return queued_.size() - sentOfQueued_; }
    std::uint64_t bytesIn() const { return bytesIn_; }
    std::uint64_t bytesOut() const { return bytesOut_; }

private:
    void onReady(std::uint32_t ready);
    void flush();
    void updateInterest();
    void fail(const base::Error& why);

    EventLoop& loop_;
    int fd_;
    Limits limits_;
    Endpoint peer_;
    ReadHandler onRead_;
    CloseHandler onClose_;
    std::function<void()> onDrained_;
    std::string queued_;
    std::size_t sentOfQueued_ = 0;
    std::uint64_t bytesIn_ = 0;
    std::uint64_t bytesOut_ = 0;
    EventLoop::TimerId stallTimer_ = 0;
    bool reading_ = true;
    bool finishing_ = false;
    // Gone with the stream: a failure told later finds out whether it lives.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace net
