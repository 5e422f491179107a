#pragma once

#include "base/error.h"
#include "check/checkfile.h"
#include "check/target.h"
#include "protocol/commandframe.h"
#include "socket/sendqueue.h"

#include <string>
#include <string_view>
#include <vector>

namespace app
{

class ReceivedTap;

// How the Commands window and its panels reach the console: what its
// controls hold, the connection, the delimiter mode its sends use, and the
// one way every block of theirs goes out (saved commands, repeats, automatic
// answers, a Run's steps).
//
// send() first takes into the message view what was received before it, so
// that the view keeps the order of the traffic; then writes `note` into the
// traffic record (none when empty), queues the block whole on the channel's
// send queue (a block the socket cannot take at once goes out later, in
// order, or is dropped and counted) and, for a frame, appends its echo to
// the view. Its result is the send queue's counts after the block was
// queued, or why nothing was queued (not connected).
//
// UI thread only; the console outlives every user of it.
class ConsoleLink
{
public:
    virtual ~ConsoleLink() = default;

    // The frame fields and the free text as the console shows them now.
    virtual protocol::FrameFields frameFields() const = 0;
    virtual std::string freeText() const = 0;
    virtual bool connected() const = 0;
    // True while the connection is UDP (each received read is one datagram).
    virtual bool datagrams() const = 0;
    // The mode the console's frames are made and read in now.
    virtual protocol::DelimiterMode delimiterMode() const = 0;
    // The device as the console names it (host and port), with the values a
    // check file's placeholders take from the console: {host} and {port},
    // and {media} and {id} from its frame fields when they are filled.
    virtual check::Target device() const = 0;
    // Received bytes for the automatic answers and runs; nullptr: none.
    virtual ReceivedTap* received() const = 0;
    virtual net::SendQueue::Counts sendCounts() const = 0;

    // The one send path (see above). `frame`: the block is a frame's wire
    // block (echoed in the view). The send queue's counts, a dropped block
    // among them (recorded as not written), or why nothing was sent (not
    // connected).
    [[nodiscard]] virtual base::Result<net::SendQueue::Counts>
    send(const std::string& block, bool frame, std::string_view note) = 0;
    // A check file's send step, its placeholders filled from `values` and
    // made in the console's mode as a check run makes it, then send();
    // why not when it cannot be made (a value missing, a field off its width,
    // an empty text).
    [[nodiscard]] virtual base::Result<net::SendQueue::Counts>
    sendStep(const check::SendStep& step, const check::DeviceValues& values,
             std::string_view note) = 0;
    // The automatic answers as they stand now (`on`, the rules, the most a
    // second), so that the devices the console's host serves beside its own
    // device are answered alike, each within its own bound. Nothing by
    // default.
    virtual void answersChanged(bool /*on*/, const std::vector<check::AnswerRule>& /*rules*/,
                                std::uint32_t /*perSecond*/)
    {
    }
};

} // namespace app
