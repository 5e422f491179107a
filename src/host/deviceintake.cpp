#include "deviceintake.h"

namespace host
{

DeviceIntake::DeviceIntake(protocol::DelimiterMode mode) : mode_(mode), frames_(mode) {}

std::vector<std::string> DeviceIntake::received(std::string_view bytes, check::Chunk chunk,
                                                check::Instant at)
{
    items_.clear();
    if (chunk == check::Chunk::Datagram)
        frames_.feedDatagram(bytes, items_);
    else
        frames_.feed(bytes, items_);
    if (const std::string_view last = lastRecordItem(items_); !last.empty())
        lastFrame_.assign(last.substr(0, kLastFrameChars));
    std::vector<std::string> blocks;
    if (!answers_)
        return blocks;
    answers_->received(bytes, chunk, at);
    for (const check::Answer& answer : answers_->takeAnswers())
        blocks.push_back(protocol::wireBlock(
            answer.isFrame ? protocol::composeFrame(answer.fields, mode_) : answer.text));
    return blocks;
}

std::string_view DeviceIntake::lastRecordItem(std::string_view items)
{
    while (!items.empty()) {
        const std::size_t cut = items.rfind(traffic::FrameStream::kItemSeparator);
        const std::string_view last = cut == std::string_view::npos ? items : items.substr(cut + 1);
        if (!last.starts_with("(unfinished"))
            return last;
        items = cut == std::string_view::npos ? std::string_view() : items.substr(0, cut);
    }
    return {};
}

void DeviceIntake::setAnswers(const std::vector<check::AnswerRule>& rules,
                              std::uint32_t maxPerSecond)
{
    if (rules.empty()) {
        answers_.reset();
        return;
    }
    answers_ = std::make_unique<check::AnswerEngine>(rules, mode_, maxPerSecond);
}

} // namespace host
