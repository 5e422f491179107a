#pragma once

#include "socket/channelobserver.h"
#include "socket/endpoint.h"
#include "traffic/framestream.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace app
{

// The console's own connection as the Devices window shows it: its true
// state (connecting, refused and why, connected, closed by the device,
// dropped, closed here), whatever state the dialog keeps. A value.
struct ConsoleConnection {
    enum class State { None, Connecting, Refused, Connected, ClosedByDevice, Dropped, ClosedHere };
    State state = State::None;
    bool udp = false;
    std::string target; // "host:port" as asked, or the device's address
    std::string why;    // the system's reason for Refused and Dropped
    std::chrono::system_clock::time_point since;
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;
    std::string lastFrame; // as the Traffic window's Frames column shows it
};

// Stands between the console's channel and its traffic record: passes every
// call on to `inner` unchanged and keeps the connection's state from them.
// Its state: connectStarted() Connecting; connectEnded() Connected or Refused;
// ConnectionEstablished Connected; ConnectionDropped ClosedByDevice (an
// orderly close) or Dropped; disconnected() of a connection still up
// ClosedHere.
//
// Threads: called from any thread as a ChannelObserver is; current() on any
// thread (a mutex guards the state).
class ConnectionWatch : public net::ChannelObserver
{
public:
    static constexpr std::size_t kLastFrameChars = 200;

    explicit ConnectionWatch(net::ChannelObserver& inner) : inner_(inner) {}

    ConsoleConnection current() const;

    // A device that called in is now the console's, on `fd` (still the
    // caller's afterwards): told to the record as a connect to the device's
    // address that succeeded, so that its files are named by it. `udp`: a
    // datagram device (`fd` is the host's local relay); `bridged`: `fd` is a
    // TLS bridge's plaintext end. Neither has an address of ours to record.
    void deviceSeated(int fd, const net::Endpoint& peer, bool udp, bool bridged);

    // Always active: the counts need every block, whether the record keeps
    // them or not.
    bool active() const override { return true; }
    void connectStarted(const net::ConnectRequest& request) override;
    void connectEnded(const net::ConnectOutcome& outcome) override;
    void blockWritten(const std::uint8_t* data, std::uint32_t length,
                      const net::IoResult& result) override;
    void blockRead(const std::uint8_t* data, std::uint32_t length,
                   std::string_view verdict) override;
    void channelEvent(net::ChannelEvent event, const base::Error& error) override;
    void disconnected() override;

private:
    net::ChannelObserver& inner_;
    mutable std::mutex mutex_;
    ConsoleConnection connection_;
    traffic::FrameStream frames_;
    std::string items_;
};

} // namespace app
