#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace protocol
{

// Cuts a byte stream into records at their line ends, whatever pieces the
// stream arrives in. A record ends at LF (a CR just before it is dropped; a NUL
// just after it, also when it comes with the next piece, is taken as part of
// the line end) or at a NUL of its own. So CR LF NUL, CR LF, LF and a bare NUL
// all end a record. Empty records are not reported.
//
// One instance per TCP connection or per datagram; one thread uses it.
class RecordSplitter
{
public:
    // A record that grows beyond this without a line end is reported as it
    // stands, so a peer that never ends its lines cannot grow the buffer.
    static constexpr std::size_t kMaxRecordLength = 4096;

    using Sink = std::function<void(std::string_view record)>;

    // Adds `bytes` and reports each record they complete, in order.
    void feed(std::string_view bytes, const Sink& sink);
    // The end of the stream or datagram: reports what is left, if anything.
    void finish(const Sink& sink);

    std::size_t pendingSize() const { return pending_.size(); }
    // The bytes of the record not yet ended.
    std::string_view pending() const { return pending_; }

private:
    // Not "emit": the header is also read next to Qt, whose macro has that name.
    void handOver(const Sink& sink);

    std::string pending_;
    bool afterLineFeed_ = false;
};

} // namespace protocol
