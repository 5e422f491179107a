#pragma once

#include "protocol/framedecoder.h"

#include <string>
#include <string_view>

namespace devicetools
{

// The simulator's log texts for what a peer sent. Pure; any thread.

// One log text for a frame: its mode and fields, texts quoted.
std::string describeFrame(const protocol::DecodedFrame& frame);
// One log text for a record that is no frame: its length, hex bytes and an
// escaped preview.
std::string describeRecord(std::string_view record);

} // namespace devicetools
