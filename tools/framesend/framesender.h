#pragma once

#include "senderoptions.h"

#include "socket/socketchannel.h"
#include "tls/tlssession.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

namespace devicetools
{

// Sends one frame or free text the way the console does and reports what
// comes back, for scripts that test a device.
//
// The rule for the result: an answer that passed the console's frame check
// makes the run a success, whatever follows; a connection that cannot be made
// in time, or that ends before such an answer, is a connection error. Lines
// meant for scripts (the blocks as the console shows them) go to `out`,
// diagnostics and warnings to `err`.
//
// One thread; run() returns within the time-out (plus a host look-up, which
// takes as long as the system's name services take).
class FrameSender
{
public:
    // Exit codes of the program.
    enum ExitStatus : int { kAnswerPassed = 0, kNoGoodAnswer = 1, kUsageOrConnectionError = 2 };
    // Once an answer has passed the check, the sender waits only until no
    // more bytes have come for this long.
    static constexpr std::uint32_t kQuietMs = 100;

    explicit FrameSender(SenderOptions options);

    // Warns about fields the device may read differently, resolves the host,
    // connects over TCP or UDP, sends the block in one write and reads blocks
    // until the time limit: each block is checked with the console's frame
    // check and printed to `out` as the console would show it (up to its first
    // NUL, one line per block, control bytes escaped), with --hex preceded by
    // its raw bytes. Returns the exit code.
    int run(std::ostream& out, std::ostream& err);

private:
    using Clock = std::chrono::steady_clock;

    // Opens the channel's socket to the resolved host by the deadline; false
    // with the message written to `err`.
    bool connect(net::SocketChannel& channel, Clock::time_point deadline, std::ostream& err) const;
    // The same for a host that has no IPv4 address: its IPv6 addresses in turn.
    bool connectAnyFamily(net::SocketChannel& channel, Clock::time_point deadline,
                          std::ostream& err) const;
    // With --tls: the handshake and the trust decision, by the deadline; false
    // with the message written to `err`.
    bool secure(net::SocketChannel& channel, Clock::time_point deadline, std::ostream& err);
    // Writes `bytes` whole (encrypted with --tls) within what is left.
    net::IoResult writeAll(net::SocketChannel& channel, const std::string& bytes,
                           Clock::time_point deadline);
    // The next block as the console would read it: at most `capacity` bytes
    // (with --tls: of the plaintext), TimedOut when nothing came.
    net::IoResult readBlock(net::SocketChannel& channel, std::uint8_t* area, std::uint32_t capacity,
                            std::uint32_t timeoutMs);
    // Reads and prints answers until the deadline; the exit code.
    int readAnswers(net::SocketChannel& channel, Clock::time_point deadline, std::ostream& out,
                    std::ostream& err);

    SenderOptions options_;
    std::string where_;
    std::unique_ptr<tls::TlsSession> session_; // with --tls, once connected
    std::string plain_;                        // plaintext read and not yet handed out
};

} // namespace devicetools
