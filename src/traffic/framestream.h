#pragma once

#include "protocol/commandframe.h"
#include "protocol/recordsplitter.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace traffic
{

// One direction of one connection read as command frames: the blocks go in as
// they were written or read, and out come the records each block completes
// (cut at their line ends by RecordSplitter, decoded by FrameDecoder), one
// item each:
//
//   media=B id=A1 data="39123439" command=ENT message="Open"
//                                    a frame in the mode in force
//   (RELEASE frame) media=B …        a frame in the other mode
//   not a frame: "PING"              a record that is no frame (its first
//                                    kPreviewBytes bytes, with its length
//                                    when it has more: `not a frame, 2045
//                                    bytes: "…"...`)
//
// An item whose record began in an earlier block starts with kBeganEarlier;
// when bytes of a record not yet ended are left after the block, a last item
// says how many (`(unfinished: 12 bytes so far)`). Items are texts of
// visibleText() and never hold a line break, so they are given separated by
// kItemSeparator. Plain ASCII.
//
// One thread at a time; the caller feeds the blocks in the order they went.
class FrameStream
{
public:
    static constexpr char kItemSeparator = '\n';
    static constexpr std::string_view kBeganEarlier = "(began earlier) ";
    static constexpr std::size_t kPreviewBytes = 64;

    explicit FrameStream(protocol::DelimiterMode mode = protocol::DelimiterMode::Demo)
        : mode_(mode)
    {
    }

    // Takes effect from the next record on.
    void setMode(protocol::DelimiterMode mode) { mode_ = mode; }
    protocol::DelimiterMode mode() const { return mode_; }

    // Appends the items of `block` to `out` (separated from what `out` holds).
    void feed(std::string_view block, std::string& out);
    // One datagram, whole: its records as items, the last one also without
    // a line end; nothing is carried to the next one.
    void feedDatagram(std::string_view datagram, std::string& out);
    // The end of the stream: appends the item of the record left without its
    // line end, if any, headed by `heading` instead of kBeganEarlier.
    void finish(std::string_view heading, std::string& out);
    // Forgets a record not yet ended (a new connection begins).
    void reset();

    std::size_t pendingSize() const { return splitter_.pendingSize(); }

    // Appends the item of one record, `heading` first.
    static void appendItem(std::string& out, std::string_view heading, std::string_view record,
                           protocol::DelimiterMode mode);

private:
    void handOver(std::string_view record, std::string& out);

    protocol::RecordSplitter splitter_;
    protocol::DelimiterMode mode_;
    bool carried_ = false; // the record being handed over began in an earlier block
};

} // namespace traffic
