#include "answerengine.h"

#include "fieldtext.h"
#include "stepaction.h"

#include "protocol/framedecoder.h"
#include "protocol/recordsplitter.h"

#include <algorithm>
#include <utility>

namespace check
{

AnswerEngine::AnswerEngine(std::vector<AnswerRule> rules, protocol::DelimiterMode mode,
                           std::uint32_t maxPerSecond)
    : rules_(std::move(rules)), mode_(mode),
      maxPerSecond_(std::max<std::uint32_t>(1, maxPerSecond)),
      splitter_(std::make_unique<protocol::RecordSplitter>())
{
}

AnswerEngine::~AnswerEngine() = default;
AnswerEngine::AnswerEngine(AnswerEngine&&) noexcept = default;
AnswerEngine& AnswerEngine::operator=(AnswerEngine&&) noexcept = default;

void AnswerEngine::setMaxPerSecond(std::uint32_t maxPerSecond)
{
    maxPerSecond_ = std::max<std::uint32_t>(1, maxPerSecond);
}

void AnswerEngine::received(std::string_view bytes, Chunk chunk, Instant at)
{
    const auto handle = [&](std::string_view record) { handleRecord(record, at); };
    splitter_->feed(bytes, handle);
    if (chunk == Chunk::Datagram) {
        splitter_->finish(handle);
    }
}

std::vector<Answer> AnswerEngine::takeAnswers()
{
    return std::exchange(answers_, {});
}

void AnswerEngine::handleRecord(std::string_view record, Instant at)
{
    if (rules_.empty() || !passesFrameCheck(record, mode_)) {
        return;
    }
    const std::optional<protocol::DecodedFrame> frame = protocol::FrameDecoder::decode(record);
    if (!frame || frame->mode != mode_) {
        return;
    }
    const protocol::FrameFields& got = frame->fields;
    const ValueLookup none = [](std::string_view) -> const std::string* { return nullptr; };
    const auto rule = std::find_if(rules_.begin(), rules_.end(), [&](const AnswerRule& r) {
        return frameMatches(r.when, got, none);
    });
    if (rule == rules_.end()) {
        return;
    }
    if (!secondStart_ || at - *secondStart_ >= kRateWindow) {
        secondStart_ = at;
        answeredThisSecond_ = 0;
    }
    if (answeredThisSecond_ >= maxPerSecond_) {
        ++overLimit_;
        return;
    }

    const ValueLookup fromFrame = [&](std::string_view name) -> const std::string* {
        if (name == "media") {
            return &got.media;
        }
        if (name == "id") {
            return &got.deviceId;
        }
        if (name == "data") {
            return &got.data;
        }
        if (name == "command") {
            return &got.command;
        }
        return name == "message" ? &got.message : nullptr;
    };
    Answer answer;
    answer.rule =
        rule->name.empty() ? "answer " + std::to_string(rule - rules_.begin() + 1) : rule->name;
    answer.isFrame = rule->answer.isFrame;
    std::string problem;
    const auto fill = [&](const std::string& text, std::string& out) {
        if (base::Result<std::string> filled = fillPlaceholders(text, fromFrame)) {
            out = std::move(*filled);
        } else if (problem.empty()) {
            problem = filled.error().text();
        }
    };
    if (answer.isFrame) {
        forEachField(answer.fields, [&](std::string_view key, std::string& out) {
            const protocol::FrameFields& from = rule->answer.fields;
            fill(key == "media"     ? from.media
                 : key == "id"      ? from.deviceId
                 : key == "data"    ? from.data
                 : key == "command" ? from.command
                                    : from.message,
                 out);
        });
        if (problem.empty()) {
            problem = frameFieldsError(answer.fields).text();
        }
    } else {
        fill(rule->answer.text, answer.text);
        if (problem.empty()) {
            problem = answer.text.empty() ? "the text is empty" : freeTextError(answer.text).text();
        }
    }
    if (!problem.empty()) {
        ++unsendable_;
        lastProblem_ = answer.rule + ": " + problem;
        return;
    }
    ++answeredThisSecond_;
    ++answered_;
    answers_.push_back(std::move(answer));
}

} // namespace check
