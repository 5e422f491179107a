#pragma once

#include "securelink.h"

#include "base/error.h"
#include "socket/endpoint.h"
#include "traffic/channelrecorder.h"

#include <cstddef>
#include <deque>
#include <string>

namespace devicetools
{

// The blocks a device's check gave that are not written yet, and their
// writing on a non-blocking socket: each block in one write, in order; a
// short write is finished before the next block starts, and a block is never
// cut. Over TLS each block goes whole to the SecureLink, which encrypts it.
// Every write is noted in the ChannelRecorder as the check gave the block
// (plaintext over TLS), a failed one with its error.
//
// Results: the failure of the system (or of the TLS layer), else ok, also
// when the socket had no room for the rest (which then waits: !empty(), or
// the link's wantsWrite()). A block that failed over a plain socket stays
// first; over TLS what waited is dropped.
//
// Threads: one at a time (the loop's). Owns no socket.
class BlockOutbox
{
public:
    explicit BlockOutbox(traffic::ChannelRecorder& recorder) : recorder_(recorder) {}

    void add(std::string block) { pending_.push_back(std::move(block)); }
    bool empty() const { return pending_.empty(); }
    void clear();

    // Writes to the connected socket `fd`.
    [[nodiscard]] base::Error writeTo(int fd);
    // Sends each block as a datagram to `peer` through `fd`, a socket shared
    // with other devices (a listener's).
    [[nodiscard]] base::Error sendTo(int fd, const net::Endpoint& peer);
    // Hands every block to `link`, then writes what it holds to `fd`.
    [[nodiscard]] base::Error writeThrough(SecureLink& link, int fd);

private:
    // `peer` null: send() on a connected socket.
    base::Error write(int fd, const net::Endpoint* peer);

    traffic::ChannelRecorder& recorder_;
    std::deque<std::string> pending_; // the first may be part written
    std::size_t written_ = 0;         // of the first pending block
};

} // namespace devicetools
