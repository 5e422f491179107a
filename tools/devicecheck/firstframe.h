#pragma once

#include "protocol/recordsplitter.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace devicetools
{

// Finds the device id in the first command frame a device sends, whatever
// pieces its bytes come in, and keeps every byte read meanwhile (to be given
// to its check afterwards). Bounded: a device that has sent kMaxBytes without
// a frame is given up (full()). Pure; one thread.
class FirstFrame
{
public:
    static constexpr std::size_t kMaxBytes = 8 * 1024;

    // Bytes of a stream; `datagram`: a whole datagram (its end ends a record).
    // The id once a frame has come (and from then on).
    std::optional<std::string> feed(std::string_view bytes, bool datagram);

    const std::optional<std::string>& id() const { return id_; }
    bool full() const { return !id_ && bytes_.size() >= kMaxBytes; }
    // Every byte fed, at most kMaxBytes.
    const std::string& bytes() const { return bytes_; }

private:
    protocol::RecordSplitter splitter_;
    std::string bytes_;
    std::optional<std::string> id_;
};

} // namespace devicetools
