#pragma once

#include "dialogseat.h"

#include "app/devices/consolehost.h"

#include <memory>

namespace protocol
{
class DelimiterSet;
}

namespace app
{

class ConsoleSender;

// The console's host mode as the dialog runs it: the host (ConsoleHost, with
// the remembered host settings) and the seat through which it reaches the
// console (DialogSeat), wired to the console's record (the host's notes go
// into it, and the devices the host serves are recorded while recording is
// on) and to the Commands window's automatic answers, which answer every
// device the host serves too, each device within its own bound, in the
// console's delimiter mode.
//
// Threads: UI thread only. Everything it is given outlives it; going, it
// unhooks itself from the record and the sender before the host ends.
class ConsoleHostMode
{
public:
    ConsoleHostMode(protocol::MessageViewChannel& channel, const ConsoleConnector& connector,
                    ConnectionWatch& watch, traffic::RecordingControl& recording,
                    ConsoleSender& sender, const protocol::DelimiterSet& delimiters,
                    DialogSeat::Hooks hooks);
    ~ConsoleHostMode();
    ConsoleHostMode(const ConsoleHostMode&) = delete;
    ConsoleHostMode& operator=(const ConsoleHostMode&) = delete;

    ConsoleHost& host() { return *host_; }
    DialogSeat& seat() { return seat_; }

private:
    traffic::RecordingControl& recording_;
    ConsoleSender& sender_;
    DialogSeat seat_;
    // Made after the seat, ended before it.
    std::unique_ptr<ConsoleHost> host_;
};

} // namespace app
