#pragma once

#include "framestream.h"
#include "trafficrecord.h"

#include <string>

namespace traffic
{

// The frames of a channel's records, in the order the channel gave them: what
// the Traffic window shows in its Frames column, usable by any reader of
// records. Each record is decoded once, as it is taken.
//
// Sent and received bytes are two streams (FrameStream), each with its state
// across records: the items of a record are those of the frames its bytes
// complete (see FrameStream). Over UDP (the connect record's fact is
// RecordFact::Udp) every write and read is a datagram of its own. A connect record
// begins both streams anew; a disconnect record ends them and has the items of
// what was left without a line end, headed `sent, unfinished: ` or
// `received, unfinished: `.
// Other events have no items.
//
// One thread at a time; records in their order.
class RecordFrames
{
public:
    explicit RecordFrames(protocol::DelimiterMode mode = protocol::DelimiterMode::Demo);

    // The mode frames are expected in, from the next record on.
    void setMode(protocol::DelimiterMode mode);
    protocol::DelimiterMode mode() const { return sent_.mode(); }

    // The items of `record`, separated by FrameStream::kItemSeparator; empty
    // when it has none.
    std::string take(const RecordView& record);
    // The same, written over `items` (whose room is kept: a reader of many
    // records reuses one buffer).
    void take(const RecordView& record, std::string& items);

private:
    void endStreams(std::string& out);

    FrameStream sent_;
    FrameStream received_;
    bool datagrams_ = false;
};

} // namespace traffic
