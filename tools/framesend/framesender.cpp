#include "framesender.h"

#include "bytetext.h"

#include "protocol/delimiterset.h"
#include "protocol/framecheck.h"
#include "protocol/messageviewchannel.h"
#include "socket/addresslookup.h"
#include "socket/connectattempt.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace devicetools
{

namespace
{

// The one text that resolves to the address that also stands for "nothing
// resolved".
constexpr std::string_view kBroadcastText = "255.255.255.255";

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

// Milliseconds from now to the deadline, 0 once it has passed.
std::uint32_t msLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<std::uint32_t>(std::max<std::int64_t>(left.count(), 0));
}

} // namespace

FrameSender::FrameSender(SenderOptions options)
    : options_(std::move(options)), where_(escapedText(options_.host) + " port " + options_.port +
                                           (options_.udp ? " over UDP" : " over TCP"))
{
}

int FrameSender::run(std::ostream& out, std::ostream& err)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options_.timeoutMs);
    const base::Result<std::string> built = buildBlock(options_);
    if (!built) {
        err << "framesend: " << built.error().text() << '\n';
        return kUsageOrConnectionError;
    }
    const std::string& block = *built;
    for (const std::string& warning : fieldWarnings(options_)) {
        err << "framesend: warning: " << warning << '\n';
    }
    net::SocketChannel channel;
    if (!connect(channel, deadline, err)) {
        return kUsageOrConnectionError;
    }
    if (options_.tls.on && !secure(channel, deadline, err)) {
        return kUsageOrConnectionError;
    }
    // One write, as the console makes it; bounded by what is left of the run.
    const net::IoResult written = writeAll(channel, block, deadline);
    if (!written || *written != block.size()) {
        // A wait that failed counts as the time-out it ended.
        const base::Error why = !written && written.error().fault() != base::Fault::TimedOut
                                    ? written.error()
                                    : base::Error(base::Fault::TimedOut);
        err << "framesend: cannot send to " << where_ << ": " << why.text() << '\n';
        return kUsageOrConnectionError;
    }
    return readAnswers(channel, deadline, out, err);
}

bool FrameSender::connect(net::SocketChannel& channel, Clock::time_point deadline,
                          std::ostream& err) const
{
    // The socket layer stores a host that does not resolve as the broadcast
    // address and leaves it to the connect, whose error would mislead.
    const std::uint32_t address =
        options_.host.empty() ? net::kAddressNone : net::resolveHost(options_.host.c_str());
    if (address == net::kAddressNone && options_.host != kBroadcastText) {
        return connectAnyFamily(channel, deadline, err);
    }
    // The console's connect steps; the connect gets what is left of the
    // run's time, not a bound of its own.
    net::ConnectRequest request;
    request.host = options_.host;
    request.service = options_.port;
    request.family = AF_INET;
    request.type = options_.udp ? SOCK_DGRAM : SOCK_STREAM;
    request.boundMs = msLeft(deadline);
    net::ConnectOutcome outcome = net::ConnectAttempt::connectNow(request);
    if (outcome.connected() && channel.adoptClient(std::move(outcome.socket))) {
        return true;
    }
    const bool timedOut = outcome.error.fault() == base::Fault::TimedOut;
    err << "framesend: " << (timedOut ? "timed out connecting to " : "cannot connect to ")
        << where_;
    if (!timedOut) {
        err << ": " << outcome.error.text();
    }
    err << '\n';
    return false;
}

bool FrameSender::connectAnyFamily(net::SocketChannel& channel, Clock::time_point deadline,
                                   std::ostream& err) const
{
    const int type = options_.udp ? SOCK_DGRAM : SOCK_STREAM;
    const auto port = static_cast<std::uint16_t>(std::stoul(options_.port));
    const base::Result<std::vector<net::Endpoint>> endpoints =
        options_.host.empty() ? base::Result<std::vector<net::Endpoint>>(
                                    base::Error::input(base::Fault::BadArgument, "", "no host"))
                              : net::lookUpEndpoints(options_.host, port, type);
    if (!endpoints) {
        const base::Error& why = endpoints.error();
        err << "framesend: cannot resolve host \"" << escapedText(options_.host, true)
            << "\": " << (why.reason().empty() ? why.text() : why.reason()) << '\n';
        return false;
    }
    base::Error last(base::Fault::TimedOut);
    for (const net::Endpoint& endpoint : *endpoints) {
        base::Result<int> fd = net::connectWithin(endpoint, type, msLeft(deadline));
        if (fd) {
            if (channel.adoptSocket(*fd)) {
                return true;
            }
        }
        last = fd ? base::Error(base::Fault::BadParameter) : fd.error();
        if (msLeft(deadline) == 0) {
            break;
        }
    }
    const bool timedOut = last.fault() == base::Fault::TimedOut;
    err << "framesend: " << (timedOut ? "timed out connecting to " : "cannot connect to ")
        << where_;
    if (!timedOut) {
        err << ": " << last.text();
    }
    err << '\n';
    return false;
}

bool FrameSender::secure(net::SocketChannel& channel, Clock::time_point deadline, std::ostream& err)
{
    const auto fail = [&](const std::string& why) {
        err << "framesend: TLS with " << where_ << ": " << why << '\n';
        return false;
    };
    base::Result<std::shared_ptr<tls::TlsContext>> context = options_.tls.clientContext();
    if (!context) {
        return fail(context.error().text());
    }
    session_ = std::make_unique<tls::TlsSession>(*context, options_.host);
    session_->start();
    std::array<std::uint8_t, net::SocketChannel::kDataCapacity> raw{};
    while (session_->state() == tls::TlsSession::State::Handshaking) {
        const std::string flight = session_->takeOutput();
        if (!flight.empty() &&
            !channel.write(flight.data(), static_cast<std::uint32_t>(flight.size()),
                           std::max(msLeft(deadline), 1u))) {
            return fail("the connection ended during the handshake");
        }
        if (msLeft(deadline) == 0) {
            return fail("the handshake did not finish in time");
        }
        const net::IoResult read =
            channel.read(raw.data(), static_cast<std::uint32_t>(raw.size()), msLeft(deadline));
        if (read) {
            session_->receive(std::string_view(reinterpret_cast<const char*>(raw.data()), *read));
        } else if (read.error().fault() != base::Fault::TimedOut) {
            return fail("the connection ended during the handshake (" + read.error().text() + ")");
        }
    }
    // An alert the handshake's failure produced still goes to the device.
    const std::string rest = session_->takeOutput();
    if (!rest.empty()) {
        (void)channel.write(rest.data(), static_cast<std::uint32_t>(rest.size()), 100);
    }
    if (session_->state() == tls::TlsSession::State::Failed) {
        return fail(session_->failure().reason());
    }
    if (const base::Error verdict = options_.tls.judge(*session_); !verdict.ok()) {
        return fail(verdict.reason());
    }
    err << "framesend: " << session_->version() << ", " << session_->cipher() << ", certificate "
        << session_->peer().certificate.fingerprint
        << (session_->peer().trusted ? "" : " (" + session_->peer().problem + ")") << '\n';
    return true;
}

net::IoResult FrameSender::writeAll(net::SocketChannel& channel, const std::string& bytes,
                                    Clock::time_point deadline)
{
    if (!session_) {
        return channel.write(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                             std::max(msLeft(deadline), 1u));
    }
    if (const base::Error error = session_->send(bytes); !error.ok()) {
        return error;
    }
    const std::string cipher = session_->takeOutput();
    const net::IoResult written = channel.write(
        cipher.data(), static_cast<std::uint32_t>(cipher.size()), std::max(msLeft(deadline), 1u));
    if (!written || *written != cipher.size()) {
        return written ? net::IoResult(base::Error(base::Fault::TimedOut)) : written;
    }
    return static_cast<std::uint32_t>(bytes.size());
}

net::IoResult FrameSender::readBlock(net::SocketChannel& channel, std::uint8_t* area,
                                     std::uint32_t capacity, std::uint32_t timeoutMs)
{
    if (!session_) {
        return channel.read(area, capacity, timeoutMs);
    }
    if (plain_.empty()) {
        const net::IoResult read = channel.read(area, capacity, timeoutMs);
        if (!read) {
            return read;
        }
        session_->receive(std::string_view(reinterpret_cast<const char*>(area), *read));
        // Whatever the session answers by itself (a key update, its close).
        if (const std::string answer = session_->takeOutput(); !answer.empty()) {
            (void)channel.write(answer.data(), static_cast<std::uint32_t>(answer.size()), 100);
        }
        plain_ += session_->takeReceived();
        if (plain_.empty()) {
            if (session_->state() == tls::TlsSession::State::Failed) {
                return session_->failure();
            }
            if (session_->state() == tls::TlsSession::State::Closed) {
                return base::Error(base::Fault::PeerClosed);
            }
            return base::Error(base::Fault::TimedOut);
        }
    }
    // The console reads a stream in blocks of at most its capacity.
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(plain_.size(), capacity));
    std::copy_n(plain_.data(), length, reinterpret_cast<char*>(area));
    plain_.erase(0, length);
    return length;
}

int FrameSender::readAnswers(net::SocketChannel& channel, Clock::time_point deadline,
                             std::ostream& out, std::ostream& err)
{
    protocol::DelimiterSet delimiters;
    delimiters.setModeFlag(options_.mode == protocol::DelimiterMode::Release ? 1 : 0);
    protocol::FrameCheck check(delimiters);
    std::array<std::uint8_t, net::SocketChannel::kDataCapacity> area{};
    Clock::time_point end = deadline;
    bool passed = false;
    while (msLeft(end) > 0) {
        const net::IoResult read =
            readBlock(channel, area.data(), static_cast<std::uint32_t>(area.size()), msLeft(end));
        if (!read && read.error().fault() == base::Fault::TimedOut) {
            continue;
        }
        if (!read) {
            const base::Error& error = read.error();
            if (!passed) {
                // Whether a reset or a close comes first, and whether it is
                // seen by the read or as a refused port, depends on timing:
                // before an answer passed, every end is a connection error.
                err << "framesend: " << where_
                    << (error == base::Error::system(ECONNREFUSED)
                            ? ": nothing answers (connection refused)"
                            : ": the connection ended before an answer passed the check (" +
                                  error.text() + ")")
                    << '\n';
                return kUsageOrConnectionError;
            }
            const std::string_view dropped =
                protocol::MessageViewChannel::eventText(net::ChannelEvent::ConnectionDropped);
            out << outputLine(dropped) << '\n';
            break;
        }
        const std::uint32_t length = *read;
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
