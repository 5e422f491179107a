#include "fleetconnection.h"

#include "nettext.h"
#include "simulatorlog.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace devicetools
{

namespace
{

bool wouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

FleetConnection::FleetConnection(int fd, std::string peerText,
                                 const PeerSession::Settings& settings, std::uint32_t idleTimeoutMs,
                                 Tls tls)
    : fd_(fd), tls_(std::move(tls)),
      handshakeDue_(Clock::now() + std::chrono::milliseconds(tls_.handshakeLimitMs)),
      session_(
          std::move(peerText), settings,
          [this](std::string_view bytes, std::uint32_t pauseMs) { return send(bytes, pauseMs); }),
      idleTimeoutMs_(idleTimeoutMs), lastHeard_(Clock::now())
{
    // A client's first flight goes out at once.
    flushCipher(lastHeard_);
}

FleetConnection::~FleetConnection()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void FleetConnection::readable(char* buffer, std::size_t size)
{
    if (!wantsRead()) {
        return;
    }
    const ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n < 0) {
        if (!wouldBlock(errno) && errno != EINTR) {
            ending_ = "closed: " + base::Error::fromErrno().text();
            ended_ = true;
        }
        return;
    }
    if (n == 0) {
        if (handshaking()) {
            ending_ = "closed by the peer during the TLS handshake";
            ended_ = true;
            return;
        }
        splitter_.finish([this](std::string_view record) { onRecord(record); });
        endAfterOutput("closed by the peer");
        return;
    }
    lastHeard_ = Clock::now();
    received(std::string_view(buffer, static_cast<std::size_t>(n)));
}

void FleetConnection::received(std::string_view bytes)
{
    const auto handle = [this](std::string_view record) { onRecord(record); };
    if (!tls_.link) {
        splitter_.feed(bytes, handle);
        return;
    }
    const std::string plain = tls_.link->receive(fd_, bytes);
    flushCipher(lastHeard_);
    const tls::TlsSession& session = tls_.link->session();
    using State = tls::TlsSession::State;
    if (!secure_) {
        if (tls_.link->takeOpened()) {
            secured();
        } else if (session.state() != State::Handshaking) {
            ending_ = "closed: TLS handshake failed: " +
                      (session.failure().ok() ? std::string("the peer closed the session")
                                              : session.failure().text());
            ended_ = true;
        }
        if (ended_ || !secure_) {
            return;
        }
    }
    splitter_.feed(plain, handle);
    if (session.state() == State::Failed) {
        ending_ = "closed: TLS failed: " + session.failure().text();
        ended_ = true;
    } else if (session.state() == State::Closed && !draining_) {
        splitter_.finish(handle);
        endAfterOutput("closed by the peer");
    }
}

void FleetConnection::secured()
{
    secure_ = true;
    if (tls_.onSecure) {
        if (const base::Error refusal = tls_.onSecure(tls_.link->session()); !refusal.ok()) {
            ending_ = "closed: " + refusal.text();
            ended_ = true;
        }
    }
}

void FleetConnection::flushCipher(Clock::time_point now)
{
    if (!tls_.link || ended_) {
        return;
    }
    if (base::Error error = tls_.link->flush(fd_); !error.ok()) {
        failed(std::move(error));
        return;
    }
    if (tls_.link->wantsWrite()) {
        cipherBlockedSince_ = cipherBlockedSince_.value_or(now);
    } else {
        cipherBlockedSince_.reset();
    }
}

void FleetConnection::onRecord(std::string_view record)
{
    // Records after a close or a failure in the same read are dropped.
    if (outcome_ != PeerSession::Outcome::Continue) {
        return;
    }
    outcome_ = session_.handleRecord(record);
    if (outcome_ == PeerSession::Outcome::Close) {
        endAfterOutput({});
    } else if (outcome_ == PeerSession::Outcome::Failed) {
        ended_ = true;
    }
}

void FleetConnection::endAfterOutput(std::string ending)
{
    if (!ending.empty()) {
        ending_ = std::move(ending);
    }
    draining_ = true;
    ended_ = ended_ || (output_.empty() && !(tls_.link && tls_.link->wantsWrite()));
}

void FleetConnection::failed(base::Error error)
{
    sendFailure_ = std::move(error);
    outcome_ = PeerSession::Outcome::Failed;
    ended_ = true;
}

void FleetConnection::writable()
{
    if (!ended_) {
        flushCipher(Clock::now());
        flush();
    }
}

void FleetConnection::hangUp()
{
    // Nothing more can reach the peer, and level-triggered events would
    // report the hang-up again and again.
    if (draining_) {
        ended_ = true;
    }
}

void FleetConnection::tick()
{
    if (ended_) {
        return;
    }
    if (!draining_ && outcome_ == PeerSession::Outcome::Continue) {
        outcome_ = session_.tick();
        if (outcome_ == PeerSession::Outcome::Failed) {
            ended_ = true;
            return;
        }
    }
    flush();
}

void FleetConnection::checkLimits(Clock::time_point now)
{
    if (ended_) {
        return;
    }
    if (handshaking() && now >= handshakeDue_) {
        ending_ =
            "closed: no TLS handshake within " + SimulatorLog::durationText(tls_.handshakeLimitMs);
        ended_ = true;
        return;
    }
    const auto stalled = [now](const std::optional<Clock::time_point>& since) {
        return since && now - *since >= std::chrono::milliseconds(kWriteTimeoutMs);
    };
    if (stalled(blockedSince_) || stalled(cipherBlockedSince_)) {
        failed(base::Error(base::Fault::TimedOut));
        return;
    }
    // A flood keeps a silent client served: it asked for the frames.
    if (!draining_ && idleTimeoutMs_ != 0 && !session_.flooding() &&
        now - lastHeard_ >= std::chrono::milliseconds(idleTimeoutMs_)) {
        ending_ = "closed: nothing received for " + SimulatorLog::durationText(idleTimeoutMs_) +
                  " (idle time-out)";
        ended_ = true;
    }
}

std::optional<FleetConnection::Clock::time_point>
FleetConnection::nextDue(Clock::time_point now) const
{
    if (ended_) {
        return now;
    }
    std::optional<Clock::time_point> due;
    const auto earlier = [&due](Clock::time_point at) { due = due ? std::min(*due, at) : at; };
    if (!draining_) {
        if (const auto ms = session_.msUntilDue()) {
            earlier(now + std::chrono::milliseconds(*ms));
        }
        if (idleTimeoutMs_ != 0 && !session_.flooding()) {
            earlier(lastHeard_ + std::chrono::milliseconds(idleTimeoutMs_));
        }
    }
    if (handshaking()) {
        earlier(handshakeDue_);
    }
    if (cipherBlockedSince_) {
        earlier(*cipherBlockedSince_ + std::chrono::milliseconds(kWriteTimeoutMs));
    }
    // Bytes that found no room wait for the socket, or for the write time-out.
    if (blockedSince_) {
        earlier(*blockedSince_ + std::chrono::milliseconds(kWriteTimeoutMs));
    } else if (const auto next = output_.nextAt()) {
        earlier(*next);
    }
    return due;
}

void FleetConnection::onTimer(Clock::time_point now)
{
    tick();
    checkLimits(now);
}

bool FleetConnection::sendUnprompted(std::string_view bytes)
{
    if (ended_ || draining_ || handshaking() || outcome_ != PeerSession::Outcome::Continue) {
        return false;
    }
    if (!send(bytes, 0)) {
        failed(sendFailure_);
        return false;
    }
    return true;
}

bool FleetConnection::send(std::string_view bytes, std::uint32_t pauseMs)
{
    if (!sendFailure_.ok()) {
        return false;
    }
    const Clock::time_point now = Clock::now();
    if (output_.empty() && pauseMs == 0) {
        const base::Result<std::size_t> sent = sendSome(bytes);
        if (!sent && sent.error().fault() != base::Fault::NoRoomNow) {
            sendFailure_ = sent.error();
            return false;
        }
        bytes.remove_prefix(sent ? *sent : 0);
        if (bytes.empty()) {
            return true;
        }
        blockedSince_ = now;
    }
    if (!output_.push(bytes, pauseMs, now)) {
        // Bytes pile up only when the client reads none.
        sendFailure_ = base::Error(base::Fault::TimedOut);
        return false;
    }
    return true;
}

void FleetConnection::flush()
{
    Clock::time_point now = Clock::now();
    while (const auto bytes = output_.ready(now)) {
        const base::Result<std::size_t> sent = sendSome(*bytes);
        if (!sent) {
            if (sent.error().fault() != base::Fault::NoRoomNow) {
                failed(sent.error());
                return;
            }
            blockedSince_ = blockedSince_.value_or(now);
            break;
        }
        output_.consume(*sent, now);
        blockedSince_.reset();
        if (*sent < bytes->size()) {
            blockedSince_ = now;
            break;
        }
        now = Clock::now();
    }
    if (draining_ && output_.empty() && !(tls_.link && tls_.link->wantsWrite())) {
        ended_ = true;
    }
}

base::Result<std::size_t> FleetConnection::sendSome(std::string_view bytes)
{
    if (tls_.link) {
        // Plaintext is taken whole once the ciphertext before it has gone,
        // so no more than one piece's ciphertext ever waits.
        if (base::Error error = tls_.link->flush(fd_); !error.ok()) {
            return error;
        }
        if (tls_.link->wantsWrite()) {
            return base::Error(base::Fault::NoRoomNow);
        }
        cipherBlockedSince_.reset();
        if (base::Error error = tls_.link->send(fd_, bytes); !error.ok()) {
            return error;
        }
        if (tls_.link->wantsWrite()) {
            cipherBlockedSince_ = Clock::now();
        }
        return bytes.size();
    }
    ssize_t n;
    do {
        n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) {
        return static_cast<std::size_t>(n);
    }
    if (wouldBlock(errno)) {
        return base::Error(base::Fault::NoRoomNow);
    }
    return base::Error::fromErrno();
}

std::string FleetConnection::finish(bool stopping)
{
    std::string ending = std::move(ending_);
    if (stopping) {
        ending = "closed: the simulator stops";
    } else if (outcome_ == PeerSession::Outcome::Close) {
        ending = "fault: closed after " + std::to_string(session_.frames()) + " frames";
    } else if (outcome_ == PeerSession::Outcome::Failed) {
        ending = "closed: sending failed: " + (sendFailure_.fault() == base::Fault::TimedOut
                                                   ? std::string("the peer takes no more bytes")
                                                   : sendFailure_.text());
    }
    if (tls_.link && secure_ && outcome_ != PeerSession::Outcome::Failed) {
        tls_.link->close(fd_);
    }
    if (outcome_ == PeerSession::Outcome::Close) {
        // As the single device does: the end of the stream goes behind the
        // answers, and unread bytes are read and dropped so that the close
        // does not turn into a reset that could destroy them.
        ::shutdown(fd_, SHUT_WR);
        char sink[4096];
        for (int read = 0; read < kDrainReads; ++read) {
            const ssize_t n = ::recv(fd_, sink, sizeof sink, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EINTR)) {
                break;
            }
        }
    }
    ::close(fd_);
    fd_ = -1;
    session_.summariseLog();
    return ending;
}

} // namespace devicetools
