#pragma once

#include "check/fleetreport.h"
#include "trafficbuffer.h"

#include "base/error.h"
#include "check/checkrun.h"
#include "socket/connectedsocket.h"
#include "traffic/channelrecorder.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace devicetools
{

// The time bounds of one device's check.
struct SessionLimits {
    check::Millis connectTimeout{3000}; // from the connect's start to the connection
    check::Millis deviceTimeout{30000}; // from the connect's start to the check's end
};

// One device's check: a non-blocking socket (TCP or UDP, as the check file
// says) driven by the event loop of a FleetRunner, and the check engine
// (check::CheckRun) that says what to send and judges what comes back.
//
// The loop calls start() once, then ready() when the socket is ready (as
// epoll says), advance() when nextDeadline() has come, and stop() when the
// operator stops the run; after each it reads wantsWrite() (watch for room
// to write) and done(). Blocks the engine gives are written one write each,
// in order; a short TCP write is finished before the next block starts, and a
// block is never cut. What is read goes to the engine as the console's Run
// gives it: over UDP each read is a whole datagram, which ends a record.
//
// With recording on, every connect, write, read and event goes through a
// ChannelRecorder into a TrafficBuffer, in the record files' texts.
//
// Threads: one (the loop's). The session closes its socket when done and when
// destroyed.
class DeviceSession
{
public:
    DeviceSession(const check::CheckFile& file, check::Target target, SessionLimits limits,
                  bool record);
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // Opens the socket and starts the connect; the session may be done at
    // once (a name that did not resolve, no descriptor left).
    void start(check::Instant now);
    // `events` as epoll gives them; `buffer` is room for what is read.
    void ready(std::uint32_t events, check::Instant now, std::span<char> buffer);
    void advance(check::Instant now);
    // The operator stopped the run: the step in progress ends, the device
    // counts as stopped.
    void stop(check::Instant now);

    int fd() const { return socket_.handle(); }
    bool wantsWrite() const;
    std::optional<check::Instant> nextDeadline() const;
    bool done() const { return state_ == State::Done; }

    check::DeviceResult& result() { return result_; }
    // The records of its traffic (empty without recording).
    TrafficBuffer& traffic() { return *traffic_; }

private:
    enum class State { Idle, Connecting, Running, Done };

    void connected(check::Instant now);
    // `reason` for the report; empty: the error's text.
    void connectFailed(check::Instant now, base::Error error, std::string reason = {});
    void receive(check::Instant now, std::span<char> buffer);
    // Writes what is pending; false when the connection failed.
    bool flush(check::Instant now);
    // Takes the engine's blocks and results, and ends the session when the
    // check has ended.
    void pump(check::Instant now);
    void lost(check::Instant now, const base::Error& error, std::string reason);
    void finish(check::Instant now, check::DeviceOutcome outcome);

    const check::CheckFile& file_;
    SessionLimits limits_;
    State state_ = State::Idle;
    net::ConnectedSocket socket_;
    std::optional<check::CheckRun> run_;
    std::deque<std::string> pending_; // blocks to write; the first may be part written
    std::size_t written_ = 0;         // of the first pending block
    check::Instant started_;          // the connect's start
    check::Instant connectDeadline_;
    check::Instant deviceDeadline_;
    bool stopping_ = false;
    std::string endReason_; // why the connection or the check was cut short
    check::DeviceResult result_;
    std::shared_ptr<TrafficBuffer> traffic_;
    traffic::ChannelRecorder recorder_;
};

} // namespace devicetools
