#pragma once

#include "securelink.h"

#include "base/error.h"
#include "check/checkfile.h"
#include "check/target.h"
#include "socket/connectedsocket.h"
#include "socket/endpoint.h"
#include "traffic/channelrecorder.h"
#include "traffic/trafficbuffer.h"

#include <memory>
#include <string_view>

namespace devicetools
{

// The record of one device session's traffic in the record files' texts,
// kept in a TrafficBuffer (which stays empty with recording off): how the
// connection began (dialled, or accepted from a device that called in; the
// files are named by it either way), how the connect ended, what was read.
// Writes, events and notes go in through recorder() (BlockOutbox and
// DialHandshake write there too).
//
// Threads: one at a time (the loop's).
class SessionRecord
{
public:
    explicit SessionRecord(bool record);

    // A connect to `target` begins; `type` SOCK_STREAM or SOCK_DGRAM.
    void dialing(const check::Target& target, int type);
    // A device that called in from `peer`: its record begins as a
    // connection's does, says it was accepted, and notes its TLS (`link`,
    // null without TLS).
    void accepted(const net::Endpoint& peer, int type, const SecureLink* link);
    // The connect ended with `socket`, `elapsed` after its start: the socket,
    // now knowing its own address when `ipv4` (the record's local address is
    // an IPv4 one; other families leave it out).
    net::ConnectedSocket connected(net::ConnectedSocket socket, bool ipv4, check::Millis elapsed);
    void connectFailed(const base::Error& error, check::Millis elapsed);
    void read(std::string_view bytes);

    traffic::ChannelRecorder& recorder() { return recorder_; }
    traffic::TrafficBuffer& traffic() { return *traffic_; }

private:
    std::shared_ptr<traffic::TrafficBuffer> traffic_;
    traffic::ChannelRecorder recorder_;
};

} // namespace devicetools
