#pragma once

#include "pcapngblockreader.h"
#include "recordtail.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace traffic
{

// Reads a pcapng file back into records: the inverse of PcapngRecords, from
// pieces of the file in order (feed() each, finish() after the last).
//
// A packet whose comment is "<kind>: <text>" with a kind name of the line
// format becomes a record of that kind with that text and, for a write or a
// read, the packet's TCP or UDP payload as its bytes. So the packets that
// stand for events (a SYN with "connect: ...", an ACK with "connected: ...",
// a FIN or RST with "event: ..." or "disconnect: ...") become those records,
// not data. A packet with a payload and no such comment is a write
// (epb_flags outbound) or a read (inbound or not given) with the comment, if
// any, as its text; a TCP segment without a comment that follows a full
// segment (PcapngRecords::kMaxTcpPayload bytes, or a multiple) of the same
// kind at the same time goes on that record, as the writer splits large
// blocks. A packet with neither payload nor comment (the SYN-ACK of a
// handshake) is no record; one with a foreign comment only is an event.
// What the file cannot give back: a write's bytes beyond those it says went
// out, a UDP payload past kMaxUdpPayload (the note says it was cut), and a
// text beyond 65532 bytes.
//
// Damage is PcapngBlockReader's, and each packet that is no IPv4 or IPv6
// packet with a whole TCP or UDP header, which becomes no record. Memory: the tail, one block and
// the record being read. Threads: none; one owner.
class PcapngRecordParser
{
public:
    explicit PcapngRecordParser(RecordTail& tail);

    void feed(std::string_view piece) { blocks_.feed(piece); }
    void finish();

    // Runs of blocks skipped, and packets whose IP, TCP or UDP header does
    // not hold (or that are no IPv4 or IPv6 at all).
    std::uint64_t damaged() const { return blocks_.damaged() + unreadablePackets_; }

private:
    void packet(const PcapngPacket& packet);
    void flush();

    RecordTail& tail_;
    PcapngBlockReader blocks_;
    // The last record read, held back while further segments may go on it.
    std::optional<Record> pending_;
    std::uint64_t unreadablePackets_ = 0;
};

} // namespace traffic
