#include "devicesession.h"

#include "nettext.h"

#include <netinet/in.h>
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
// A UDP answer the listening socket had no room for is tried again after this.
constexpr check::Millis kDatagramRetry{10};

std::string millisText(check::Clock::duration time)
{
    return std::to_string(std::chrono::floor<check::Millis>(time).count()) + " ms";
}

check::Millis millis(check::Clock::duration time)
{
    return std::chrono::floor<check::Millis>(time);
}

} // namespace

DeviceSession::DeviceSession(net::EventLoop& loop, std::shared_ptr<const check::CheckFile> file,
                             check::Target target, SessionLimits limits, bool record,
                             DoneHook onDone)
    : loop_(loop),
      watch_(
          loop, [this](std::uint32_t ready) { onReady(ready); }, [this] { onTimer(); }),
      file_(std::move(file)), limits_(limits), onDone_(std::move(onDone)), record_(record)
{
    result_.target = std::move(target);
}

DeviceSession::~DeviceSession()
{
    watch_.wakeAt(std::nullopt);
    closeSocket();
}

bool DeviceSession::begin(check::Instant now)
{
    started_ = now;
    // A device whose values do not fit the file is never contacted.
    run_.emplace(file_, result_.target.values);
    if (const base::Error& unfit = run_->valuesError(); !unfit.ok()) {
        result_.failedStep = "device values";
        result_.reason = unfit.text();
        finish(now, check::DeviceOutcome::Failed);
        return false;
    }
    connectDeadline_ = now + limits_.connectTimeout;
    deviceDeadline_ = now + limits_.deviceTimeout;
    return true;
}

void DeviceSession::start()
{
    const check::Instant now = loop_.now();
    if (!begin(now)) {
        settle();
        return;
    }
    const check::Target& target = result_.target;
    const int type = udp() ? SOCK_DGRAM : SOCK_STREAM;
    record_.dialing(target, type);
    state_ = State::Connecting;
    dialer_.emplace(target.addresses, type);
    if (target.addresses.empty()) {
        connectFailed(now,
                      base::Error(base::Fault::BadInput, 0,
                                  target.lookUpProblem.empty() ? "the host name does not resolve"
                                                               : target.lookUpProblem));
        settle();
        return;
    }
    dial(now);
    settle();
}

void DeviceSession::dial(check::Instant now)
{
    std::optional<AddressDialer::Attempt> attempt = dialer_->next();
    if (!attempt) {
        connectFailed(now, dialer_->lastError());
        return;
    }
    socket_ = std::move(attempt->socket);
    if (attempt->connected) {
        connected(now);
    }
}

void DeviceSession::adopt(int fd, const net::Endpoint& peer, std::string_view early,
                          std::unique_ptr<SecureLink> link)
{
    socket_ = net::ConnectedSocket(fd, {});
    link_ = std::move(link);
    peer_ = peer;
    const check::Instant now = loop_.now();
    if (!begin(now)) {
        settle();
        return;
    }
    startAccepted(peer, SOCK_STREAM, now);
    if (!early.empty() && state_ == State::Running) {
        received(early, now);
    }
    settle();
}

void DeviceSession::startAccepted(const net::Endpoint& peer, int type, check::Instant now)
{
    record_.accepted(peer, type, link_.get());
    state_ = State::Running;
    run_->start(now);
    pump(now);
}

void DeviceSession::adoptDatagrams(int fd, const net::Endpoint& peer, std::string_view first)
{
    sharedFd_ = fd;
    peer_ = peer;
    const check::Instant now = loop_.now();
    if (!begin(now)) {
        settle();
        return;
    }
    startAccepted(peer, SOCK_DGRAM, now);
    if (state_ == State::Running) {
        received(first, now);
    }
    settle();
}

void DeviceSession::deliver(std::string_view datagram)
{
    if (state_ == State::Running) {
        received(datagram, loop_.now());
    }
    settle();
}

void DeviceSession::settle()
{
    if (state_ == State::Done) {
        watch_.wakeAt(std::nullopt);
        if (!told_) {
            told_ = true;
            // Last: the hook may destroy this session.
            if (onDone_) {
                onDone_(*this);
            }
        }
        return;
    }
    if (socket_.valid()) {
        watch_.watch(socket_.handle(),
                     net::EventLoop::WantRead |
                         (wantsWrite() ? std::uint32_t{net::EventLoop::WantWrite} : 0u));
    }
    watch_.wakeAt(nextDeadline());
}

void DeviceSession::onTimer()
{
    advance(loop_.now());
    settle();
}

void DeviceSession::connected(check::Instant now)
{
    socket_ = record_.connected(std::move(socket_), dialer_->current().family() == AF_INET,
                                millis(now - started_));
    if (!dialTls_) {
        beginCheck(now);
        return;
    }
    handshake_ = std::make_unique<DialHandshake>(dialTls_, result_.target, record_.recorder());
    state_ = State::Handshaking;
    shaken(now, handshake_->start(socket_.handle()));
}

void DeviceSession::beginCheck(check::Instant now)
{
    result_.connectTime = millis(now - started_);
    state_ = State::Running;
    run_->start(now);
    pump(now);
}

void DeviceSession::shaken(check::Instant now, DialHandshake::Step step)
{
    if (step.state == DialHandshake::State::Failed) {
        tlsFailed(now, std::move(step.text));
        return;
    }
    if (step.state != DialHandshake::State::Open) {
        return;
    }
    link_ = handshake_->take();
    handshake_.reset();
    beginCheck(now);
    // Plaintext that came with the handshake's last flight.
    if (!step.text.empty() && state_ == State::Running) {
        received(step.text, now);
    }
}

void DeviceSession::tlsFailed(check::Instant now, std::string reason)
{
    record_.recorder().note(reason);
    result_.failedStep = "tls";
    result_.reason = std::move(reason);
    finish(now, stopping_ ? check::DeviceOutcome::Stopped : check::DeviceOutcome::Failed);
}

void DeviceSession::connectFailed(check::Instant now, base::Error error, std::string reason)
{
    record_.connectFailed(error, millis(now - started_));
    result_.failedStep = "connect";
    result_.reason = reason.empty() ? error.text() : std::move(reason);
    finish(now, stopping_ ? check::DeviceOutcome::Stopped : check::DeviceOutcome::Failed);
}

void DeviceSession::onReady(std::uint32_t ready)
{
    const check::Instant now = loop_.now();
    if (state_ == State::Connecting) {
        if (dialer_->answer(socket_.handle(), ready).ok()) {
            connected(now);
        } else {
            // On to the target's next address, if it has one.
            closeSocket();
            dial(now);
        }
        settle();
        return;
    }
    if (state_ == State::Handshaking) {
        if ((ready & net::EventLoop::Writable) != 0) {
            shaken(now, handshake_->writable(socket_.handle()));
        }
        if (state_ == State::Handshaking) {
            receive(now);
        }
        settle();
        return;
    }
    if (state_ != State::Running) {
        settle();
        return;
    }
    const bool wrote = (ready & net::EventLoop::Writable) == 0 || flush(now);
    if (wrote && state_ == State::Running &&
        (ready & (net::EventLoop::Readable | net::EventLoop::Failed | net::EventLoop::HangUp)) !=
            0) {
        receive(now);
    }
    if (state_ == State::Running) {
        pump(now);
    }
    settle();
}

void DeviceSession::receive(check::Instant now)
{
    char* buffer = loop_.scratch();
    for (int i = 0;
         i < kReadsPerWakeUp && (state_ == State::Running || state_ == State::Handshaking); ++i) {
        const ssize_t count = ::recv(socket_.handle(), buffer, net::EventLoop::kScratchBytes, 0);
        if (count > 0) {
            const std::string_view bytes(buffer, static_cast<std::size_t>(count));
            if (state_ == State::Handshaking) {
                shaken(now, handshake_->received(bytes, socket_.handle()));
            } else if (link_) {
                secureReceived(bytes, now);
            } else {
                received(bytes, now);
            }
            continue;
        }
        if (count == 0) {
            if (udp()) {
                record_.recorder().channelEvent(net::ChannelEvent::ZeroLengthMessage, {});
                continue;
            }
            if (state_ == State::Handshaking) {
                tlsFailed(now, "the device closed the connection in the TLS handshake");
                return;
            }
            lost(now, base::Error(base::Fault::PeerClosed), "the device closed the connection");
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            const base::Error error = base::Error::fromErrno();
            if (state_ == State::Handshaking) {
                tlsFailed(now, "connection lost in the TLS handshake: " + error.text());
            } else {
                lost(now, error, "connection lost: " + error.text());
            }
        }
        return;
    }
}

void DeviceSession::secureReceived(std::string_view cipher, check::Instant now)
{
    const std::string plain = link_->receive(cipher);
    if (!plain.empty()) {
        received(plain, now);
    }
    if (state_ != State::Running) {
        return;
    }
    // What the session answered itself (e.g. a key update) goes out too.
    if (!flush(now)) {
        return;
    }
    const tls::TlsSession& session = link_->session();
    if (session.state() == tls::TlsSession::State::Closed) {
        lost(now, base::Error(base::Fault::PeerClosed), "the device closed the TLS session");
    } else if (session.state() == tls::TlsSession::State::Failed) {
        lost(now, session.failure(), "TLS failed: " + session.failure().reason());
    }
}

void DeviceSession::received(std::string_view bytes, check::Instant now)
{
    record_.read(bytes);
    run_->received(bytes, udp() ? check::Chunk::Datagram : check::Chunk::Stream, now);
    pump(now);
}

bool DeviceSession::flush(check::Instant now)
{
    const base::Error failed = link_            ? outbox_.writeThrough(*link_, socket_.handle())
                               : sharedFd_ >= 0 ? outbox_.sendTo(sharedFd_, peer_)
                                                : outbox_.writeTo(socket_.handle());
    if (!failed.ok()) {
        lost(now, failed, "cannot send: " + failed.text());
        return false;
    }
    return true;
}

void DeviceSession::pump(check::Instant now)
{
    for (std::string& block : run_->takeSends()) {
        outbox_.add(std::move(block));
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
    } else if (allOut()) {
        finish(now, check::DeviceOutcome::Passed);
    }
}

void DeviceSession::lost(check::Instant now, const base::Error& error, std::string reason)
{
    record_.recorder().channelEvent(net::ChannelEvent::ConnectionDropped, error);
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
    if (state_ == State::Handshaking && now >= std::min(connectDeadline_, deviceDeadline_)) {
        tlsFailed(now, "TLS handshake did not finish within " + millisText(now - started_));
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

void DeviceSession::stop()
{
    const check::Instant now = loop_.now();
    stopping_ = true;
    if (state_ == State::Connecting) {
        connectFailed(now, net::ConnectOutcome::connectCancelled(), "stopped");
    } else if (state_ == State::Handshaking) {
        tlsFailed(now, "stopped");
    } else if (state_ == State::Running) {
        if (run_->finished()) {
            finish(now, check::DeviceOutcome::Stopped);
        } else {
            endReason_ = "stopped";
            run_->abort(endReason_, now);
            pump(now);
        }
    }
    settle();
}

bool DeviceSession::wantsWrite() const
{
    return state_ == State::Connecting ||
           ((state_ == State::Running || state_ == State::Handshaking) && !allOut());
}

std::optional<check::Instant> DeviceSession::nextDeadline() const
{
    switch (state_) {
    case State::Connecting:
    case State::Handshaking:
        return std::min(connectDeadline_, deviceDeadline_);
    case State::Running: {
        check::Instant due = deviceDeadline_;
        if (const std::optional<check::Instant> next = run_->nextDeadline()) {
            due = std::min(*next, due);
        }
        if (sharedFd_ >= 0 && !outbox_.empty()) {
            due = std::min(loop_.now() + kDatagramRetry, due);
        }
        return due;
    }
    case State::Idle:
    case State::Done:
        break;
    }
    return std::nullopt;
}

void DeviceSession::closeSocket()
{
    watch_.unwatch(socket_.handle());
    socket_.reset();
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
    if (socket_.valid() || sharedFd_ >= 0) {
        closeSocket();
        record_.recorder().disconnected();
    }
    sharedFd_ = -1;
    state_ = State::Done;
    outbox_.clear();
    handshake_.reset();
    link_.reset();
    run_.reset();
}

} // namespace devicetools
