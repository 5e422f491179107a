#pragma once

#include "faultmodes.h"
#include "replyrules.h"

#include "protocol/framedecoder.h"

#include <cstdint>
#include <string>

namespace devicetools
{

// Decides what the simulator sends back for a well-formed frame: the rule for
// its command if there is one, else the echo of the frame in the mode it came
// in (unless echoing is off), with the content faults applied. Pure; read-only
// after construction, so any thread may use it.
class Responder
{
public:
    // The flood frames' message text.
    static constexpr std::string_view kFloodMessage = "flood";

    // `rules` may be nullptr; it and `faults` must outlive the responder.
    Responder(const ReplyRules* rules, bool echo, const FaultModes& faults);

    // The bytes to send, CR LF and NUL included; empty for no answer.
    std::string answerTo(const protocol::DecodedFrame& frame) const;

    // Flood frame number `sequence` (from 1) after `trigger`: its media, device
    // id and command, the number as data, kFloodMessage as message, in its mode.
    static std::string floodFrame(const protocol::DecodedFrame& trigger, std::uint32_t sequence);

private:
    const ReplyRules* rules_;
    bool echo_;
    const FaultModes& faults_;
};

} // namespace devicetools
