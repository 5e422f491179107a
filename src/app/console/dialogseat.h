#pragma once

#include "app/devices/connectionwatch.h"
#include "app/devices/consoleseat.h"

#include "protocol/messageviewchannel.h"
#include "traffic/recordingcontrol.h"

#include <functional>

namespace app
{

class ConsoleConnector;
class ConsoleHost;

// The console's seat as host mode sees it (ConsoleSeat): hands a device that
// called in to the console's channel, or takes it back, and ends the seat
// when the device is gone. What the dialog itself must do (its watcher, its
// Connected and Disconnected states, its own connect) it does through the
// hooks, which must all be set.
//
// Threads: UI thread only, as the channel's operations are. The channel,
// connector, watch and record outlive it; it outlives the ConsoleHost that
// holds it.
class DialogSeat : public ConsoleSeat
{
public:
    struct Hooks {
        // Starts the channel's watcher; true when it runs.
        std::function<bool()> startWatcher;
        // Shows what the watcher has queued so far.
        std::function<void()> showQueued;
        // Stops the channel (its watcher and socket).
        std::function<void()> stopChannel;
        // The console has a device now: its Connected state.
        std::function<void()> connected;
        // The console's connection has ended: its Disconnected state.
        std::function<void()> ended;
        // The console's own connect (ConsoleSeat::connectTo).
        std::function<bool(const QString& host, const QString& port)> connectTo;
    };

    DialogSeat(protocol::MessageViewChannel& channel, const ConsoleConnector& connector,
               ConnectionWatch& watch, traffic::RecordingControl& recording, Hooks hooks);

    bool seatTaken() const override;
    bool seatDevice(int fd, const net::Endpoint& peer, bool udp, bool switched,
                    const host::TlsFacts& tls) override;
    int unseatDevice() override;
    bool connectTo(const QString& host, const QString& port) override;

    // The console's device has gone by itself: back to Disconnected, and
    // `host` hears how it ended.
    void deviceGone(ConsoleHost& host);

private:
    protocol::MessageViewChannel& channel_;
    const ConsoleConnector& connector_;
    ConnectionWatch& watch_;
    traffic::RecordingControl& recording_;
    Hooks hooks_;
};

} // namespace app
