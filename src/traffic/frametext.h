#pragma once

#include "protocol/framedecoder.h"

#include <string>

namespace traffic
{

// The texts of a decoded frame, the same in the device simulator's log and in
// the console's Traffic window, so that a frame seen in one can be searched
// for in the other. Fields are written with visibleText() (quotes escaped in
// the quoted ones). Pure functions; any thread.

// `media=B id=A1 data="39123439" command=ENT message="Open"`
std::string frameFieldsText(const protocol::FrameFields& fields);
// Appends frameFieldsText(fields) to `out`.
void appendFrameFieldsText(std::string& out, const protocol::FrameFields& fields);
// The mode's name, a blank, then frameFieldsText(): `DEMO media=B id=A1 …`.
std::string frameText(const protocol::DecodedFrame& frame);

} // namespace traffic
