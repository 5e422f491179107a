#pragma once

#include "devicerow.h"

#include "base/error.h"
#include "socket/endpoint.h"
#include "traffic/channelrecorder.h"
#include "traffic/trafficbuffer.h"

#include <memory>
#include <string>
#include <string_view>

namespace host
{

// The traffic record of one device the host serves, while recording is on:
// what it sent and was sent, as record files hold a connection the console
// made, begun as an accepted connection with the device's address (which
// names its file). Kept in a bounded buffer (traffic::TrafficBuffer: the
// first 256 KiB, then counted) and handed to the recorder whole when the
// device ends, goes to the console, or recording stops, so that every device
// gets a file of its own from one writer, however many run at once.
//
// Threads: the host's loop thread only.
class DeviceRecords
{
public:
    DeviceRecords(Transport transport, const net::Endpoint& peer);

    void read(std::string_view bytes);
    // A block sent to the device: `failure` none when it went whole.
    void written(std::string_view bytes, const base::Error& failure);
    // An event of the host's own ("handed to the console").
    void note(std::string_view text);
    // The device's end, as its row says it.
    void ended(DeviceState state, const std::string& why);
    // Replays every record kept to `sink` and forgets them.
    void handOut(traffic::RecordSink& sink);

private:
    std::shared_ptr<traffic::TrafficBuffer> buffer_;
    traffic::ChannelRecorder recorder_;
};

} // namespace host
