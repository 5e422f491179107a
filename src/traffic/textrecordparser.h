#pragma once

#include "recordtail.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace traffic
{

// Reads the line format of the record files (recordline.h) back into
// records, from pieces of a file in order, however they are cut: feed() each
// piece, finish() after the last. Every line recordLine() can have written
// becomes its record in `tail`; comment lines (the header) and empty lines are
// passed over; any other line (garbage, a line changed by hand, one cut by a
// full disk, one longer than kMaxLineBytes) is skipped and counted in
// damaged(). A CR before the LF (a file that went through an editor) is
// allowed. Memory: the records in `tail` plus one line of at most
// kMaxLineBytes. Threads: none; one owner.
class TextRecordParser
{
public:
    // A line of a 1 MiB block with a note as long; the writer's lines of what
    // the channel moves stay far below.
    static constexpr std::size_t kMaxLineBytes = 16 * 1024 * 1024;

    explicit TextRecordParser(RecordTail& tail) : tail_(tail) {}

    void feed(std::string_view piece);
    // Ends the input: a last line without its LF is read as a line.
    void finish();

    std::uint64_t damaged() const { return damaged_; }

private:
    void line(std::string_view text);

    RecordTail& tail_;
    std::string pending_;
    bool skipping_ = false; // within a line past kMaxLineBytes, up to its LF
    std::uint64_t damaged_ = 0;
};

} // namespace traffic
