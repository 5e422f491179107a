#include "responder.h"

#include "protocol/commandframe.h"

namespace devicetools
{

Responder::Responder(const ReplyRules* rules, bool echo, const FaultModes& faults)
    : rules_(rules), echo_(echo), faults_(faults)
{
}

std::string Responder::answerTo(const protocol::DecodedFrame& frame) const
{
    const ReplyRules::Rule* rule = rules_ != nullptr ? rules_->find(frame.fields.command) : nullptr;
    std::string answer;
    if (rule != nullptr) {
        answer = ReplyRules::render(*rule, frame);
    } else if (echo_) {
        // Composed afresh rather than copied, so the echo is exactly what the
        // console itself would send with these fields in this mode.
        answer = protocol::wireBlock(protocol::composeFrame(frame.fields, frame.mode));
    }
    return faults_.shape(std::move(answer));
}

std::string Responder::floodFrame(const protocol::DecodedFrame& trigger, std::uint32_t sequence)
{
    protocol::FrameFields fields = trigger.fields;
    fields.data = std::to_string(sequence);
    fields.message = kFloodMessage;
    return protocol::wireBlock(protocol::composeFrame(fields, trigger.mode));
}

} // namespace devicetools
