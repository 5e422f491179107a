#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace traffic
{

// What one record of a connection's traffic is about.
enum class RecordKind : std::uint8_t {
    ConnectAttempt, // text: protocol, target address and port ("TCP 192.168.0.50:21210")
    Connected,      // text: the local address and port the connection got
    ConnectFailed,  // text: the system's reason and how long the attempt took
    Write,          // bytes: exactly as they went out; text: the write's result
    Read,           // bytes: exactly as read, before any check; text: the frame check's verdict
    Event,          // text: a connection event (dropped, zero-length datagram)
    Disconnect,     // text: why the connection ended (operator, close)
};

// What a record's text tells that code acts on (the pcapng packets, the
// Traffic window's colours, where frames are cut), kept beside the text: the
// text is made from it where the record is made, and nothing reads a text
// back for its meaning but the readers of record files (recordFacts()).
enum class RecordFact : std::uint8_t {
    None,       // nothing beyond the kind (a note of the caller's own, a read)
    Udp,        // ConnectAttempt: over UDP (else TCP)
    Refused,    // ConnectFailed: the device refused the connection
    Written,    // Write: RecordFacts::written of the block's bytes went out
    NotWritten, // Write: the write was not made, or it failed
    PeerClosed, // Event: the device closed the connection
    Dropped,    // Event: the connection dropped (a reset, an error)
    ZeroLength, // Event: a zero-length datagram came
};

struct RecordFacts {
    RecordFact fact = RecordFact::None;
    std::size_t written = 0; // a Written write's count of bytes that went out

    bool operator==(const RecordFacts&) const = default;
};

// The three directions a record is shown under.
enum class Direction : std::uint8_t { Sent, Received, Event };

constexpr Direction directionOf(RecordKind kind)
{
    switch (kind) {
    case RecordKind::Write:
        return Direction::Sent;
    case RecordKind::Read:
        return Direction::Received;
    default:
        return Direction::Event;
    }
}

// One record: a value, copied from the traffic; recording never changes what
// goes on the wire or into the message view.
struct Record {
    std::chrono::system_clock::time_point time; // wall clock, microseconds kept
    RecordKind kind = RecordKind::Event;
    std::string bytes; // the exact bytes of a Write or Read, NULs included
    std::string text;  // the description that goes with the kind (above)
    RecordFacts facts; // what the text tells, for code to act on
};

// A record's fields without its bytes and text of its own: a Record, or one
// held in a RecordBatch. Valid while what it points into is.
struct RecordView {
    std::chrono::system_clock::time_point time;
    RecordKind kind = RecordKind::Event;
    std::string_view bytes;
    std::string_view text;
    RecordFacts facts;

    RecordView() = default;
    RecordView(std::chrono::system_clock::time_point time, RecordKind kind, std::string_view bytes,
               std::string_view text, RecordFacts facts = {})
        : time(time), kind(kind), bytes(bytes), text(text), facts(facts)
    {
    }
    // Implicit, as from a string to a string_view: a view of `record`.
    RecordView(const Record& record)
        : time(record.time), kind(record.kind), bytes(record.bytes), text(record.text),
          facts(record.facts)
    {
    }
};

// Takes records. Threads: record() is called from the UI thread (connects,
// writes, disconnects), a connect attempt's thread and the channel's watcher
// (reads, events), so every implementation is safe to call from any thread.
// An implementation may make the watcher wait briefly (back-pressure) but
// never the UI thread, and never drops a record without counting it.
//
// recordView() takes the same record as a view of the caller's memory, valid
// during the call only (a channel's read buffer). By default it copies the
// view into a Record of the calling thread's own, kept from call to call so
// that it allocates only to grow, and hands that to record(); a sink that
// copies what it keeps anyway overrides it and saves that copy.
//
// keyLog() takes a TLS key log line (the NSS key log format, without its
// newline) of the connection whose records the sink takes, in their order:
// secrets, which only a sink that writes them for the user's own asking (a
// pcapng record file) keeps; by default they are ignored. Any thread, as
// record().
class RecordSink
{
public:
    virtual ~RecordSink() = default;
    virtual void record(const Record& record) = 0;
    virtual void recordView(const RecordView& view)
    {
        thread_local Record copy;
        copy.time = view.time;
        copy.kind = view.kind;
        copy.bytes.assign(view.bytes);
        copy.text.assign(view.text);
        copy.facts = view.facts;
        record(copy);
    }
    virtual void keyLog(std::string_view /*line*/) {}
};

} // namespace traffic
