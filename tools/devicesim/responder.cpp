#include "responder.h"

#include "wireform.h"

namespace devicetools
{

Responder::Responder(const ReplyRules* rules, bool echo, const FaultModes& faults)
    : rules_(rules), echo_(echo), faults_(faults)
{
}

std::string Responder::answerTo(const DecodedFrame& frame) const
{
    const ReplyRules::Rule* rule = rules_ != nullptr ? rules_->find(frame.command) : nullptr;
    std::string answer;
    if (rule != nullptr) {
        answer = ReplyRules::render(*rule, frame);
    } else if (echo_) {
        // Composed afresh rather than copied, so the echo is exactly what the
        // console itself would send with these fields in this mode.
        answer = frameOnWire(frame.mode, frame.media, frame.deviceId, frame.data, frame.command,
                             frame.message);
    }
    return faults_.shape(std::move(answer));
}

std::string Responder::floodFrame(const DecodedFrame& trigger, std::uint32_t sequence)
{
    return frameOnWire(trigger.mode, trigger.media, trigger.deviceId, std::to_string(sequence),
                       trigger.command, kFloodMessage);
}

} // namespace devicetools
