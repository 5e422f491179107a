#pragma once

#include "commandline.h"
#include "nettext.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace devicetools
{

// What the sender is told on its command line. The frame fields start as the
// console's fields stand when it opens.
struct SenderOptions {
    static constexpr std::uint32_t kDefaultTimeoutMs = 2000;
    static constexpr std::uint32_t kMaxTimeoutMs = 600000;

    std::string host{kDefaultHost};
    std::string port = std::to_string(kDefaultPort);
    bool udp = false;
    bool release = false;
    std::string media = "B";
    std::string deviceId = "A1";
    std::string data = "39123439";
    std::string command = "ENT";
    std::string message = "Message / Description";
    // Free text to send instead of a frame.
    std::optional<std::string> text;
    std::uint32_t timeoutMs = kDefaultTimeoutMs;
    bool hex = false;
};

// Reads the sender's options. On UsageError, `error` says what is wrong.
ParseResult parseSenderArguments(CommandLine& line, SenderOptions& options, std::string& error);

// The --help text.
std::string_view senderUsage();

// Sends one frame or free text the way the console does and reports what
// comes back, for scripts that test a device.
//
// One thread; run() blocks for at most the connect (bounded by the socket
// layer), the time limit and a short quiet period.
class FrameSender
{
public:
    // Exit codes of the program.
    static constexpr int kAnswerPassed = 0;
    static constexpr int kNoGoodAnswer = 1;
    static constexpr int kUsageOrConnectionError = 2;
    // Once an answer has passed the check, the sender waits only until no
    // more bytes have come for this long.
    static constexpr std::uint32_t kQuietMs = 100;

    explicit FrameSender(SenderOptions options);

    // The bytes that go on the wire: the frame composed by the protocol layer
    // (or the text), then CR LF and NUL. False, with the console's own message
    // for missing fields or a message of ours for texts that are too long.
    static bool buildBlock(const SenderOptions& options, std::string& block, std::string& error);

    // Connects over TCP or UDP, sends the block in one write and reads blocks
    // until the time limit: each block is checked with the console's frame
    // check and printed to `out` as the console would show it (up to its first
    // NUL, one line per block, control bytes escaped), with --hex preceded by
    // its raw bytes. A dropped connection prints the console's line for it.
    // Errors go to `err`. Returns the exit code.
    int run(std::ostream& out, std::ostream& err);

private:
    SenderOptions options_;
};

} // namespace devicetools
