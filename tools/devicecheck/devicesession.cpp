#include "devicesession.h"

#include "nettext.h"

#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace devicetools
{

namespace
{

// Reads taken from one device per wake-up, so that a device that floods does
// not starve the others.
constexpr int kReadsPerWakeUp = 16;

std::string millisText(check::Clock::duration time)
{
    return std::to_string(std::chrono::floor<check::Millis>(time).count()) + " ms";
}

check::Millis millis(check::Clock::duration time)
{
    return std::chrono::floor<check::Millis>(time);
}

} // namespace

DeviceSession::DeviceSession(const check::CheckFile& file, check::Target target,
                             SessionLimits limits, bool record)
    : file_(file), limits_(limits), traffic_(std::make_shared<TrafficBuffer>())
{
    result_.target = std::move(target);
    if (record) {
        recorder_.setSinks({traffic_});
    }
}

DeviceSession::~DeviceSession() = default;

void DeviceSession::start(check::Instant now)
{
    const check::Target& target = result_.target;
    started_ = now;
    // A device whose values do not fit the file is never contacted.
    run_.emplace(file_, target.values);
    if (const base::Error& unfit = run_->valuesError(); !unfit.ok()) {
        result_.failedStep = "device values";
        result_.reason = unfit.text();
        finish(now, check::DeviceOutcome::Failed);
        return;
    }
    connectDeadline_ = now + limits_.connectTimeout;
    deviceDeadline_ = now + limits_.deviceTimeout;
    const bool udp = file_.transport == check::Transport::Udp;
    const int type = udp ? SOCK_DGRAM : SOCK_STREAM;
    net::ConnectRequest request;
    request.host = target.host;
    request.service = std::to_string(target.port);
    request.family = AF_INET;
    request.type = type;
    recorder_.connectStarted(request);
    state_ = State::Connecting;
    if (target.address == check::Target::kUnresolved) {
        connectFailed(now, base::Error(base::Fault::BadInput, 0, "the host name does not resolve"));
        return;
    }
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        connectFailed(now, base::Error::fromErrno("no socket"));
        return;
    }
    socket_ = net::ConnectedSocket(fd, {});
    const net::SocketAddress to = makeEndpoint(target.address, target.port);
    if (::connect(fd, to.asSockaddr(), net::SocketAddress::kSize) == 0) {
        connected(now);
    } else if (errno != EINPROGRESS) {
        connectFailed(now, base::Error::fromErrno());
    }
}

void DeviceSession::connected(check::Instant now)
{
    net::SocketAddress local;
    socklen_t length = net::SocketAddress::kSize;
    ::getsockname(socket_.handle(), local.asSockaddr(), &length);
    socket_ = net::ConnectedSocket(socket_.release(), local);
    result_.connectTime = millis(now - started_);
    net::ConnectOutcome outcome;
    outcome.error = {};
    outcome.socket = std::move(socket_);
    outcome.elapsed = result_.connectTime;
    recorder_.connectEnded(outcome);
    socket_ = std::move(outcome.socket);

    state_ = State::Running;
    run_->start(now);
    pump(now);
}

void DeviceSession::connectFailed(check::Instant now, base::Error error, std::string reason)
{
    net::ConnectOutcome outcome;
    outcome.error = error;
    outcome.elapsed = millis(now - started_);
    recorder_.connectEnded(outcome);
    result_.failedStep = "connect";
    result_.reason = reason.empty() ? error.text() : std::move(reason);
    finish(now, stopping_ ? check::DeviceOutcome::Stopped : check::DeviceOutcome::Failed);
}

void DeviceSession::ready(std::uint32_t events, check::Instant now, std::span<char> buffer)
{
    if (state_ == State::Connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket_.handle(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
            error = errno;
        }
        if (error == 0 && (events & (EPOLLERR | EPOLLHUP)) == 0) {
            connected(now);
        } else {
            connectFailed(now, base::Error::system(error != 0 ? error : ECONNREFUSED));
        }
        return;
    }
    if (state_ != State::Running) {
        return;
    }
    if ((events & EPOLLOUT) != 0 && !flush(now)) {
        return;
    }
    if ((events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0) {
        receive(now, buffer);
    }
    if (state_ == State::Running) {
        pump(now);
    }
}

void DeviceSession::receive(check::Instant now, std::span<char> buffer)
{
    const bool udp = file_.transport == check::Transport::Udp;
    for (int i = 0; i < kReadsPerWakeUp && state_ == State::Running; ++i) {
        const ssize_t count = ::recv(socket_.handle(), buffer.data(), buffer.size(), 0);
        if (count > 0) {
            const std::string_view bytes(buffer.data(), static_cast<std::size_t>(count));
            recorder_.blockRead(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                static_cast<std::uint32_t>(bytes.size()), {});
            run_->received(bytes, udp ? check::Chunk::Datagram : check::Chunk::Stream, now);
            pump(now);
            continue;
        }
        if (count == 0) {
            if (udp) {
                recorder_.channelEvent(net::ChannelEvent::ZeroLengthMessage, {});
                continue;
            }
            lost(now, base::Error(base::Fault::PeerClosed), "the device closed the connection");
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            const base::Error error = base::Error::fromErrno();
            lost(now, error, "connection lost: " + error.text());
        }
        return;
    }
}

bool DeviceSession::flush(check::Instant now)
{
    while (!pending_.empty()) {
        const std::string& block = pending_.front();
        const ssize_t count = ::send(socket_.handle(), block.data() + written_,
                                     block.size() - written_, MSG_NOSIGNAL);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return true;
            }
            const base::Error error = base::Error::fromErrno();
            recorder_.blockWritten(reinterpret_cast<const std::uint8_t*>(block.data() + written_),
                                   static_cast<std::uint32_t>(block.size() - written_),
                                   net::IoResult(error));
            lost(now, error, "cannot send: " + error.text());
            return false;
        }
        recorder_.blockWritten(reinterpret_cast<const std::uint8_t*>(block.data() + written_),
                               static_cast<std::uint32_t>(count),
                               net::IoResult(static_cast<std::uint32_t>(count)));
        written_ += static_cast<std::size_t>(count);
        if (written_ >= block.size()) {
            pending_.pop_front();
            written_ = 0;
        }
    }
    return true;
}

void DeviceSession::pump(check::Instant now)
{
    for (std::string& block : run_->takeSends()) {
        pending_.push_back(std::move(block));
    }
    if (!flush(now)) {
        return;
    }
    for (check::StepResult& step : run_->takeResults()) {
        result_.addStep(std::move(step));
    }
    if (!run_->finished()) {
        return;
    }
    // A check that passed ends once its last blocks are out; one that failed
    // ends at once.
    if (!run_->passed()) {
        finish(now, stopping_ ? check::DeviceOutcome::Stopped : check::DeviceOutcome::Failed);
    } else if (pending_.empty()) {
        finish(now, check::DeviceOutcome::Passed);
    }
}

void DeviceSession::lost(check::Instant now, const base::Error& error, std::string reason)
{
    recorder_.channelEvent(net::ChannelEvent::ConnectionDropped, error);
    if (run_->finished()) {
        // Only blocks of a check that passed were still going out.
        result_.failedStep = "send";
        result_.reason = std::move(reason);
        finish(now, check::DeviceOutcome::Failed);
        return;
    }
    endReason_ = reason;
    run_->abort(reason, now);
    pump(now);
}

void DeviceSession::advance(check::Instant now)
{
    if (state_ == State::Connecting && now >= std::min(connectDeadline_, deviceDeadline_)) {
        connectFailed(now, base::Error(base::Fault::TimedOut),
                      "no connection within " + millisText(now - started_));
        return;
    }
    if (state_ != State::Running) {
        return;
    }
    if (now >= deviceDeadline_) {
        const std::string reason =
            "the device's check took longer than " + millisText(limits_.deviceTimeout);
        if (run_->finished()) {
            result_.failedStep = "send";
            result_.reason = reason;
            finish(now, check::DeviceOutcome::Failed);
            return;
        }
        endReason_ = reason;
        run_->abort(reason, now);
    } else {
        run_->advance(now);
    }
    pump(now);
}

void DeviceSession::stop(check::Instant now)
{
    stopping_ = true;
    if (state_ == State::Connecting) {
        connectFailed(now, net::ConnectOutcome::connectCancelled(), "stopped");
    } else if (state_ == State::Running) {
        if (run_->finished()) {
            finish(now, check::DeviceOutcome::Stopped);
            return;
        }
        endReason_ = "stopped";
        run_->abort(endReason_, now);
        pump(now);
    }
}

bool DeviceSession::wantsWrite() const
{
    return state_ == State::Connecting || (state_ == State::Running && !pending_.empty());
}

std::optional<check::Instant> DeviceSession::nextDeadline() const
{
    switch (state_) {
    case State::Connecting:
        return std::min(connectDeadline_, deviceDeadline_);
    case State::Running:
        if (const std::optional<check::Instant> next = run_->nextDeadline()) {
            return std::min(*next, deviceDeadline_);
        }
        return deviceDeadline_;
    case State::Idle:
    case State::Done:
        break;
    }
    return std::nullopt;
}

void DeviceSession::finish(check::Instant now, check::DeviceOutcome outcome)
{
    if (state_ == State::Done) {
        return;
    }
    // An engine that ended between steps names no step that failed.
    if (outcome != check::DeviceOutcome::Passed && result_.failedStep.empty()) {
        result_.failedStep = outcome == check::DeviceOutcome::Stopped ? "stopped" : "check";
        result_.reason = endReason_.empty() ? "stopped" : endReason_;
    }
    result_.outcome = outcome;
    result_.duration = millis(now - started_);
    if (socket_.valid()) {
        socket_.reset();
        recorder_.disconnected();
    }
    state_ = State::Done;
    pending_.clear();
    run_.reset();
}

} // namespace devicetools
