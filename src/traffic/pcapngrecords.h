#pragma once

#include "pcapngwriter.h"
#include "trafficrecord.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace traffic
{

// Turns the records of connections into the packets of a pcapng file, so
// that a capture tool shows the console's traffic as it went on the wire:
// one IP packet (link type RAW: IPv4, or IPv6 when an endpoint is IPv6) per
// block sent or received, with the
// block's exact bytes as its TCP or UDP payload, the record's time to the
// microsecond, epb_flags outbound for a Write and inbound for a Read, and
// the real endpoints (the console's local address and port from the
// Connected record, the device's from the ConnectAttempt when it names an
// address ("a.b.c.d:port" or "[v6]:port"); 0.0.0.0, :: and port 0 stand for
// what is not known). IPv4, TCP and UDP checksums are computed. TCP sequence and
// acknowledgement numbers follow the stream in both directions, so that
// following the TCP (or UDP) stream gives exactly the bytes sent and
// received, in order.
//
// Every record's text goes into the opt_comment of the packet it belongs to,
// as "<kind>: <text>" with the kind's name of the line format (e.g.
// "write: 26 bytes written", "read: valid frame"). A record that moved no
// bytes is shown by a packet that stands for it and carries its comment:
//   ConnectAttempt + Connected   TCP: SYN at the attempt's time (comment
//                    "connect: ..."), then SYN-ACK and ACK at the connected
//                    time (comment "connected: ..."). The attempt is held
//                    until its outcome comes, because the SYN needs the local
//                    port that only the outcome names.
//   ConnectFailed    TCP: the SYN, then a RST from the device with the reason
//                    when the connection was refused, else the SYN sent again.
//   Write not sent   TCP: an ACK without payload; the stream does not move.
//   Event            closed by the peer: a FIN from the device; dropped: a
//                    RST from the device; any other: an ACK without payload.
//   Disconnect       a FIN from the console (an ACK after a reset or a FIN).
// A refused or reset connection is a RST on the wire too, so there a capture
// tool warns "Connection reset (RST)", as it would on a real capture; a
// connection that ends well gives no warning.
// UDP has no handshake, so there each of these is a datagram without payload
// (a zero-length datagram from the device is such a packet too, with its
// comment "event: Zero-length datagram"). Packets that stand for records are
// the choice over bare comments because pcapng has comments only on packets
// and the section, and a packet keeps each event's time and place in the
// stream.
//
// A TCP payload longer than kMaxTcpPayload (a block of 64 KiB) is split into
// segments, the comment on the first; a UDP payload longer than
// kMaxUdpPayload is cut there, and its comment says so.
//
// Threads: none; one owner. Sans-I/O: the caller writes what append() gives.
class PcapngRecords
{
public:
    static constexpr std::size_t kMaxTcpPayload = 65535 - 40;
    static constexpr std::size_t kMaxUdpPayload = 65535 - 28;

    // The start of a file: its Section Header Block and Interface
    // Description Block.
    static std::string fileHeader();

    // Adds the packets of `record` to `out` (possibly none yet, while a
    // connect attempt waits for its outcome).
    void append(std::string& out, const RecordView& record);
    // Adds the packet of a connect attempt still waiting for its outcome.
    void finish(std::string& out);
    // True while a connect attempt waits for its outcome.
    bool holding() const { return held_.has_value(); }

private:
    struct Endpoint {
        std::uint32_t address = 0; // IPv4, host order
        std::array<std::uint8_t, 16> v6{};
        bool isV6 = false;
        std::uint16_t port = 0;
    };
    // The IPv4 header (20 bytes) or the IPv6 one (40) of a packet, into
    // `head`; the header's length and the checksum sum of the pseudo-header's
    // addresses.
    std::pair<std::size_t, std::uint32_t> ipHeader(char* head, const Endpoint& from,
                                                   const Endpoint& to, std::uint8_t protocol,
                                                   std::uint16_t segmentLength);
    struct Held {
        std::chrono::system_clock::time_point time;
        std::string text;
    };
    enum Flag : std::uint8_t { Fin = 0x01, Syn = 0x02, Rst = 0x04, Psh = 0x08, Ack = 0x10 };

    void begin(const RecordView& connect);
    void releaseHeld(std::string& out);
    void connected(std::string& out, const RecordView& record);
    void event(std::string& out, const RecordView& record);
    // The packets of a Write's or Read's payload, the comment on the first.
    void payloadPackets(std::string& out, const RecordView& record, bool outbound,
                        std::string_view payload, std::string_view comment);
    // The comment of a datagram cut to `kept` bytes.
    std::string_view cutComment(const RecordView& record, std::size_t kept);
    // One packet from the console (outbound) or the device, its sequence
    // number advanced by the payload and by SYN and FIN.
    void packet(std::string& out, std::chrono::system_clock::time_point time, bool outbound,
                std::uint8_t flags, std::string_view payload, std::string_view comment);

    bool udp_ = false;
    Endpoint local_;
    Endpoint remote_;
    std::uint32_t localSeq_ = 0;
    std::uint32_t remoteSeq_ = 0;
    bool closedLocal_ = false;
    bool reset_ = false;
    std::uint16_t ipId_ = 0;
    std::optional<Held> held_;
    std::string comment_;
    // "<kind>: <text>" of the last record whose text was its comment.
    std::string recordComment_;
    RecordKind recordCommentKind_ = RecordKind::Event;
    std::size_t recordCommentTextAt_ = 0;
};

} // namespace traffic
