#pragma once

#include "connectionkeylog.h"
#include "trafficrecord.h"

#include "socket/channelobserver.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace traffic
{

// Turns a channel's observer calls into Records, timed by the wall clock when
// the call comes, and hands each to every sink set (e.g. the Traffic window's
// queue and a FileRecorder). Bytes are copied; the channel's own buffers are
// never changed. A sink gets the record through recordView(), as a view of
// the caller's memory valid during the call only: it copies what it keeps,
// and does not call back into this recorder from there.
//
// The texts that go with each kind (every reason is base::Error's text), each
// made from the record's facts (RecordFacts) and the error that goes with them:
//   ConnectAttempt  "TCP 192.168.0.50:21210" (protocol, host as given, service)
//   Connected       "127.0.0.1:40112 after 0 ms" (the local address and port;
//                   "[::1]:40112 after 0 ms" for IPv6)
//   ConnectFailed   "Connection refused after 3 ms" (the system's text; a
//                   time-out or an abandoned attempt says so)
//   Write           "26 bytes written", "not written: no room within the time-out",
//                   "not written: the send queue is full", "not written: the
//                   connection is closed", "write failed: Broken pipe"
//   Read            the verdict of the class that handled the block
//   Event           "Connection closed by the peer", "Connection dropped: Connection
//                   reset by peer", "Zero-length datagram", "Connection accepted",
//                   "Accepting failed: ..."
//   Disconnect      "Disconnected"
//
// TLS key log lines: keyLog() hands them on only while setKeyLogging(true)
// (the user asked for them): then to every sink's keyLog(), and kept for the
// current connection (bounded, ConnectionKeyLog) so that a sink added while it
// runs can be given them too (connectionKeys()). Otherwise a line is dropped
// at once and kept nowhere.
//
// Threads: every call from any thread. setSinks() swaps the whole list at
// once and may be called while the channel runs (e.g. when recording to a
// file is switched on); a call already under way finishes with the list it
// took. A sink stays alive while a call may still use it (shared ownership).
// With no sink set, a call costs one atomic load and builds nothing.
class ChannelRecorder : public net::ChannelObserver
{
public:
    using Sinks = std::vector<std::shared_ptr<RecordSink>>;

    void setSinks(Sinks sinks);
    Sinks sinks() const;

    // The records that opened the current connection (its ConnectAttempt and
    // their outcome, as they were delivered), so that a sink added while it
    // runs can be told how it started; empty after a Disconnect.
    std::vector<Record> connectionStart() const;

    // True while a sink is set.
    bool active() const override;
    void connectStarted(const net::ConnectRequest& request) override;
    void connectEnded(const net::ConnectOutcome& outcome) override;
    void blockWritten(const std::uint8_t* data, std::uint32_t length,
                      const net::IoResult& result) override;
    void blockRead(const std::uint8_t* data, std::uint32_t length,
                   std::string_view verdict) override;
    void channelEvent(net::ChannelEvent event, const base::Error& error) override;
    void disconnected() override;
    // An Event record of the caller's own with `text`, e.g. naming what the
    // next write is (a saved command, an automatic answer). Any thread.
    void note(std::string_view text);

    // Whether TLS key log lines are passed on (off at the start). Switching
    // off forgets the lines kept. Any thread.
    void setKeyLogging(bool on);
    bool keyLogging() const { return keyLogging_.load(std::memory_order_relaxed); }
    // A TLS key log line (the NSS key log format, without its newline) of a
    // TLS session of the current connection, as the session makes its
    // secrets; see above. Any thread (a TLS engine's loop thread).
    void keyLog(std::string_view line);
    // The key log lines kept for the current connection, each "\n" ended;
    // empty while key logging is off, and from each ConnectAttempt and
    // Disconnect on until the connection's next line.
    std::string connectionKeys() const;

private:
    using SinkList = std::shared_ptr<const Sinks>;
    SinkList current() const;
    // Hands the record, timed now, to every sink's recordView(); the view
    // returned points where `bytes` and `text` do.
    static RecordView deliver(const SinkList& sinks, RecordKind kind, std::string_view bytes,
                              std::string_view text, RecordFacts facts);

    mutable std::mutex mutex_;
    SinkList sinks_;
    std::atomic<bool> active_{false};
    std::atomic<bool> keyLogging_{false};
    std::vector<Record> connectionStart_;
    ConnectionKeyLog connectionKeys_;
};

} // namespace traffic
