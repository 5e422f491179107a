#pragma once

#include "addressdialer.h"
#include "blockoutbox.h"
#include "check/fleetreport.h"
#include "dialhandshake.h"
#include "loopwatch.h"
#include "securelink.h"
#include "sessionrecord.h"

#include "traffic/trafficbuffer.h"

#include "base/error.h"
#include "check/checkrun.h"
#include "socket/connectedsocket.h"
#include "socket/endpoint.h"
#include "socket/eventloop.h"
#include "traffic/channelrecorder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace devicetools
{

// The time bounds of one device's check.
struct SessionLimits {
    check::Millis connectTimeout{3000}; // from the connect's start to the connection
    check::Millis deviceTimeout{30000}; // from the connect's start to the check's end
};

// One device's check on a net::EventLoop: a non-blocking socket (TCP or UDP,
// as the check file says) that the loop watches, the check engine
// (check::CheckRun) that says what to send and judges what comes back, and
// one loop timer for the next of its deadlines (the engine's, the connect's,
// the device's), so the loop never scans the sessions (LoopWatch).
//
// TLS: with useTls() the session does the handshake after the connect, as
// part of it (the connect time-out bounds both), and goes on only with a
// device whose certificate the options accept (else the step "tls" fails
// with the reason and the fingerprint); the check sees plaintext as without
// TLS, and so do the records, which note the version, the cipher and the
// peer's fingerprint. A device that called in may come with its TLS already
// open (adopt()).
//
// A target with several addresses (a name of both families) is connected at
// the first that takes the connect, tried in order within the time-out
// (AddressDialer).
//
// Three ways to start: start() connects to the target; adopt() takes a
// stream socket a listener accepted (no connect step); adoptDatagrams() is a
// UDP device that called in: its datagrams come through deliver() from the
// listening socket, which the session answers through (and does not own).
// Blocks the engine gives are written as a BlockOutbox writes them.
// What is read goes to the engine as the console's Run gives it: over UDP
// each datagram is whole, which ends a record.
//
// With recording on, every connect, write, read and event goes into a
// TrafficBuffer, in the record files' texts (SessionRecord).
//
// The end: the done hook is told once, when the check has ended (also at
// once from start() or adopt()), as the last thing the session does; the
// hook may destroy the session. stop() (the operator stopped the run) ends
// the step in progress; the device counts as stopped.
//
// Threads: the loop's only. The session unwatches and closes its socket when
// done and when destroyed.
class DeviceSession
{
public:
    using DoneHook = std::function<void(DeviceSession&)>;

    DeviceSession(net::EventLoop& loop, std::shared_ptr<const check::CheckFile> file,
                  check::Target target, SessionLimits limits, bool record, DoneHook onDone);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Before start(): speak TLS with the device.
    void useTls(std::shared_ptr<const DialTls> tls) { dialTls_ = std::move(tls); }
    // Opens the socket and starts the connect.
    void start();
    // A device that called in over TCP: `fd` (owned from now on) is the
    // accepted connection from `peer`; `early` holds (plaintext) bytes
    // already read from it, given to the check as the first received;
    // `link` its TLS, handshake done, or null.
    void adopt(int fd, const net::Endpoint& peer, std::string_view early,
               std::unique_ptr<SecureLink> link = nullptr);
    // A device that called in over UDP from `peer`: answers go out through
    // `fd` (the listening socket, not owned); `first` is its first datagram.
    void adoptDatagrams(int fd, const net::Endpoint& peer, std::string_view first);
    // A datagram from an adoptDatagrams() device.
    void deliver(std::string_view datagram);
    void stop();

    bool done() const { return state_ == State::Done; }
    check::DeviceResult& result() { return result_; }
    // The records of its traffic (empty without recording).
    traffic::TrafficBuffer& traffic() { return record_.traffic(); }

private:
    enum class State { Idle, Connecting, Handshaking, Running, Done };

    // Starts the engine; false (and done) when the device's values do not fit.
    bool begin(check::Instant now);
    void onReady(std::uint32_t ready);
    void onTimer();
    // After every entry: tells the done hook, or brings the loop's interest
    // and the timer up to date.
    void settle();
    // Connects to the next of the target's addresses.
    void dial(check::Instant now);
    void connected(check::Instant now);
    // A device that called in: its record starts as an accepted connection
    // (`type` SOCK_STREAM or SOCK_DGRAM) and the check runs.
    void startAccepted(const net::Endpoint& peer, int type, check::Instant now);
    // The TLS handshake went on: on to the check, or the device refused.
    void shaken(check::Instant now, DialHandshake::Step step);
    void tlsFailed(check::Instant now, std::string reason);
    // The check starts on the connection.
    void beginCheck(check::Instant now);
    // `reason` for the report; empty: the error's text.
    void connectFailed(check::Instant now, base::Error error, std::string reason = {});
    void receive(check::Instant now);
    void received(std::string_view bytes, check::Instant now);
    // Bytes read over TLS once the handshake is done: records with plaintext.
    void secureReceived(std::string_view cipher, check::Instant now);
    // Writes what is pending; false when the connection failed.
    bool flush(check::Instant now);
    // Takes the engine's blocks and results, and ends the session when the
    // check has ended.
    void pump(check::Instant now);
    void lost(check::Instant now, const base::Error& error, std::string reason);
    void advance(check::Instant now);
    void finish(check::Instant now, check::DeviceOutcome outcome);
    void closeSocket();
    bool wantsWrite() const;
    // Nothing waits to be written.
    bool allOut() const
    {
        return outbox_.empty() && (!link_ || !link_->wantsWrite()) &&
               (!handshake_ || !handshake_->wantsWrite());
    }
    std::optional<check::Instant> nextDeadline() const;
    bool udp() const { return file_->transport == check::Transport::Udp; }

    net::EventLoop& loop_;
    LoopWatch watch_; // socket_'s, and the timer at the next deadline
    std::shared_ptr<const check::CheckFile> file_;
    SessionLimits limits_;
    DoneHook onDone_;
    State state_ = State::Idle;
    net::ConnectedSocket socket_;
    // Datagrams of a UDP device that called in: the listener's socket and
    // the device's address.
    int sharedFd_ = -1;
    net::Endpoint peer_;
    std::optional<check::CheckRun> run_;
    std::shared_ptr<const DialTls> dialTls_;
    std::unique_ptr<DialHandshake> handshake_; // while shaking hands with a device dialled
    std::unique_ptr<SecureLink> link_;         // when speaking TLS, the handshake done
    std::optional<AddressDialer> dialer_;      // from start()
    check::Instant started_;                   // the connect's start (or the accept)
    check::Instant connectDeadline_;
    check::Instant deviceDeadline_;
    bool stopping_ = false;
    bool told_ = false;
    std::string endReason_; // why the connection or the check was cut short
    check::DeviceResult result_;
    SessionRecord record_;
    BlockOutbox outbox_{record_.recorder()};
};

} // namespace devicetools
