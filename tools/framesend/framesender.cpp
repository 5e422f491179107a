#include "framesender.h"

#include "bytetext.h"
#include "nettext.h"
#include "wireform.h"

#include "protocol/delimiterset.h"
#include "protocol/framecheck.h"
#include "protocol/messageviewchannel.h"
#include "socket/lasterror.h"
#include "socket/socketchannel.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace devicetools
{

namespace
{

constexpr std::uint32_t kMinPort = 1;

constexpr std::string_view kUsage = R"(Usage: framesend [options]

Sends one command frame or one free text to a device exactly as the console
does (followed by CR LF and NUL, in one write), then prints every block that
comes back within the time limit after the console's frame check: the text
the console would show, or "Error received data !". Nothing else is printed
unless --hex is given.

Exit status: 0 when an answer passed the frame check, 1 when no answer came
or none passed, 2 on a usage or connection error.

Where to:
  --host HOST       device address or host name (default 127.0.0.1)
  --port PORT       device port, 1 to 65535 (default 21210)
  --tcp             send over TCP (the default)
  --udp             send over UDP

What (a frame by default, with the fields the console opens with):
  --media TEXT      media; its first character counts (default B)
  --id TEXT         device id; its first two characters count (default A1)
  --data TEXT       data, at most 36 characters (default 39123439)
  --command TEXT    command; its first three characters count (default ENT)
  --message TEXT    message, at most 120 characters
                    (default "Message / Description")
  --release         RELEASE mode: the frame's delimiters go out as the codes
                    7, 8, 9, and answers are checked for those codes
  --text TEXT       send this free text instead of a frame (1 to 2045
                    characters)

How:
  --timeout MS      how long to wait for answers, 1 to 600000 ms (default
                    2000); once an answer has passed the check, only until
                    the line has been quiet for 100 ms
  --hex             also show each block's raw bytes in hex
  --help            show this text

Examples:
  framesend                          # the console's default frame, TCP, 127.0.0.1:21210
  framesend --udp --release --command EXT --data 4711
  framesend --command "IGN  -  Ignore" --message "" && echo "device answered"
  framesend --text "hello" --timeout 500 --hex
)";

// The console shows a block up to its first NUL.
std::string_view shownText(const std::uint8_t* block, std::uint32_t length)
{
    const auto* text = reinterpret_cast<const char*>(block);
    const void* nul = std::memchr(block, '\0', length);
    return std::string_view(text, nul != nullptr ? static_cast<const char*>(nul) - text : length);
}

// One output line per block: the block's own line end is dropped, anything
// else that would break the line is escaped.
std::string outputLine(std::string_view shown)
{
    constexpr std::string_view kLineEnd = "\r\n";
    if (shown.size() >= kLineEnd.size() &&
        shown.substr(shown.size() - kLineEnd.size()) == kLineEnd) {
        shown.remove_suffix(kLineEnd.size());
    }
    return escapedText(shown);
}

} // namespace

ParseResult parseSenderArguments(CommandLine& line, SenderOptions& options, std::string& error)
{
    std::string value;
    while (!line.atEnd()) {
        const std::string option(line.nextOption());
        bool ok = true;
        if (option == "--help") {
            return ParseResult::Help;
        } else if (option == "--host") {
            ok = line.value(options.host, error);
        } else if (option == "--port") {
            std::uint32_t port = 0;
            ok = line.value(options.port, error);
            if (ok && !CommandLine::parseNumber(options.port, kMinPort, kMaxPort, port)) {
                error = "--port takes a number from 1 to 65535, not \"" + options.port + '"';
                ok = false;
            }
        } else if (option == "--udp") {
            options.udp = true;
            ok = line.noValue(error);
        } else if (option == "--tcp") {
            options.udp = false;
            ok = line.noValue(error);
        } else if (option == "--release") {
            options.release = true;
            ok = line.noValue(error);
        } else if (option == "--media") {
            ok = line.value(options.media, error);
        } else if (option == "--id") {
            ok = line.value(options.deviceId, error);
        } else if (option == "--data") {
            ok = line.value(options.data, error);
        } else if (option == "--command") {
            ok = line.value(options.command, error);
        } else if (option == "--message") {
            ok = line.value(options.message, error);
        } else if (option == "--text") {
            ok = line.value(value, error);
            options.text = value;
        } else if (option == "--timeout") {
            ok = line.value(value, error);
            if (ok && !CommandLine::parseNumber(value, 1, SenderOptions::kMaxTimeoutMs,
                                                options.timeoutMs)) {
                error = "--timeout takes milliseconds from 1 to " +
                        std::to_string(SenderOptions::kMaxTimeoutMs) + ", not \"" + value + '"';
                ok = false;
            }
        } else if (option == "--hex") {
            options.hex = true;
            ok = line.noValue(error);
        } else {
            error = "unknown option \"" + option + '"';
            ok = false;
        }
        if (!ok) {
            return ParseResult::UsageError;
        }
    }
    std::string block;
    if (!FrameSender::buildBlock(options, block, error)) {
        return ParseResult::UsageError;
    }
    return ParseResult::Run;
}

std::string_view senderUsage()
{
    return kUsage;
}

FrameSender::FrameSender(SenderOptions options) : options_(std::move(options)) {}

bool FrameSender::buildBlock(const SenderOptions& options, std::string& block, std::string& error)
{
    using Delimiters = protocol::DelimiterSet;
    if (options.text) {
        // The console sends nothing for an empty text.
        if (options.text->empty() || options.text->size() > kMaxTextLength) {
            error = "the text must have 1 to " + std::to_string(kMaxTextLength) + " characters";
            return false;
        }
        block = textOnWire(*options.text);
        return true;
    }
    const std::string_view missing =
        protocol::validateFrameFields(options.media, options.deviceId, options.command);
    if (!missing.empty()) {
        error = std::string(missing);
        return false;
    }
    // The console's edits hold at most this much; longer texts would make a
    // frame no device reads.
    if (options.data.size() > Delimiters::kDataMaxLength) {
        error = "the data may have at most " + std::to_string(Delimiters::kDataMaxLength) +
                " characters";
        return false;
    }
    if (options.message.size() > Delimiters::kMessageMaxLength) {
        error = "the message may have at most " + std::to_string(Delimiters::kMessageMaxLength) +
                " characters";
        return false;
    }
    block = frameOnWire(options.release ? FrameMode::Release : FrameMode::Demo, options.media,
                        options.deviceId, options.data, options.command, options.message);
    return true;
}

int FrameSender::run(std::ostream& out, std::ostream& err)
{
    using Clock = std::chrono::steady_clock;
    const std::string where =
        options_.host + " port " + options_.port + (options_.udp ? " over UDP" : " over TCP");
    std::string block;
    std::string error;
    if (!buildBlock(options_, block, error)) {
        err << "framesend: " << error << '\n';
        return kUsageOrConnectionError;
    }
    net::SocketChannel channel;
    if (!channel.openClient(options_.host.c_str(), options_.port.c_str(), AF_INET,
                            options_.udp ? SOCK_DGRAM : SOCK_STREAM)) {
        err << "framesend: cannot connect to " << where << ": "
            << errorText(static_cast<int>(net::lastError())) << '\n';
        return kUsageOrConnectionError;
    }
    // One write, as the console makes it; bounded, as a script must not hang.
    const std::int32_t written = channel.writeBlock(
        block.data(), static_cast<std::uint32_t>(block.size()), options_.timeoutMs);
    if (written != static_cast<std::int32_t>(block.size())) {
        err << "framesend: cannot send to " << where << '\n';
        return kUsageOrConnectionError;
    }

    protocol::DelimiterSet delimiters;
    delimiters.setModeFlag(options_.release ? 1 : 0);
    protocol::FrameCheck check(delimiters);
    std::array<std::uint8_t, net::SocketChannel::kDataCapacity> area{};
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options_.timeoutMs);
    Clock::time_point end = deadline;
    bool passed = false;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        // The socket layer keeps errno of a failed read; it tells a refused
        // UDP port from a closed connection.
        errno = 0;
        const std::int32_t n =
            channel.readBlock(area.data(), static_cast<std::uint32_t>(area.size()),
                              static_cast<std::uint32_t>(left.count()));
        if (n == 0) {
            continue;
        }
        if (n < 0) {
            if (errno == ECONNREFUSED) {
                err << "framesend: nothing answers at " << where << " (connection refused)\n";
                return kUsageOrConnectionError;
            }
            const std::string_view dropped =
                protocol::MessageViewChannel::eventText(net::ChannelEvent::ConnectionDropped);
            out << outputLine(dropped) << '\n';
            break;
        }
        const auto length = static_cast<std::uint32_t>(n);
        if (options_.hex) {
            out << "<- " << length << " bytes: "
                << hexBytes(std::string_view(reinterpret_cast<const char*>(area.data()), length),
                            length)
                << '\n';
        }
        const std::uint32_t shown =
            check.check(area.data(), length, static_cast<std::uint32_t>(area.size()));
        out << outputLine(shownText(area.data(), shown)) << '\n';
        if (check.dashFound() != 0) {
            passed = true;
            end = std::min(deadline, Clock::now() + std::chrono::milliseconds(kQuietMs));
        }
    }
    out.flush();
    return passed ? kAnswerPassed : kNoGoodAnswer;
}

} // namespace devicetools
