#pragma once

#include "trafficrecord.h"

#include <cstddef>
#include <cstdint>

namespace traffic
{

// What became of a Write, from its record's facts (RecordFact::Written with
// the count, or NotWritten), never from its text.
//   Whole    every byte went out (the count is the block's size)
//   Partial  fewer bytes went out than the block holds
//   Failed   none went out: the write was not made or failed
// A record that is no Write is None. Pure functions; any thread.
enum class WriteOutcome : std::uint8_t { None, Whole, Partial, Failed };

WriteOutcome writeOutcome(const RecordView& record);

// How many of a Write's bytes went out: its facts' count (at most the
// block's size), 0 for a write that failed or was not made, or no Write.
std::size_t writtenCount(const RecordView& record);

} // namespace traffic
