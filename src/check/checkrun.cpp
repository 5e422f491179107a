#include "checkrun.h"

#include "fieldtext.h"
#include "stepaction.h"

#include "protocol/framedecoder.h"
#include "traffic/bytetext.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace check
{

namespace
{

const char* actionName(const Step& step)
{
    if (std::holds_alternative<SendStep>(step.action)) {
        return "send";
    }
    return std::holds_alternative<ExpectStep>(step.action) ? "expect" : "wait";
}

} // namespace

CheckRun::CheckRun(const CheckFile& file, DeviceValues values)
    : CheckRun(std::make_shared<const CheckFile>(file), std::move(values))
{
}

CheckRun::CheckRun(std::shared_ptr<const CheckFile> file, DeviceValues values)
    : file_(std::move(file)), values_(valuesWithDefaults(*file_, std::move(values))),
      unfit_(checkDeviceValues(*file_, values_))
{
}

void CheckRun::start(Instant now)
{
    if (started_) {
        return;
    }
    started_ = true;
    if (file_->steps.empty()) {
        finished_ = true;
        return;
    }
    // Every step's values are judged before the first byte goes out, so
    // that a later step missing one cannot leave an earlier one half done.
    if (!unfit_.ok()) {
        endStep(StepFailure::BadValues, unfit_.text(), Millis{0}, now);
        return;
    }
    proceed(now, true);
}

void CheckRun::received(std::string_view bytes, Chunk chunk, Instant now)
{
    if (finished_) {
        return;
    }
    // Expects that ran out before these bytes came end first; one whose
    // deadline is now still sees them.
    if (started_) {
        proceed(now, false);
    }
    lastReceived_ = now;
    const auto add = [&](std::string_view record) { addRecord(record, now); };
    splitter_.feed(bytes, add);
    if (chunk == Chunk::Datagram) {
        splitter_.finish(add);
        pendingTaken_ = false;
    }
    if (started_) {
        proceed(now, true);
    }
}

void CheckRun::advance(Instant now)
{
    if (started_ && !finished_) {
        proceed(now, true);
    }
}

void CheckRun::abort(std::string_view reason, Instant now)
{
    if (finished_) {
        return;
    }
    if (!file_->steps.empty()) {
        endStep(StepFailure::Ended, std::string(reason), Millis{0}, now);
    }
    finished_ = true;
    failed_ = true;
}

std::vector<std::string> CheckRun::takeSends()
{
    std::vector<std::string> blocks;
    blocks.reserve(sends_.size());
    for (Send& send : std::exchange(sends_, {}))
        blocks.push_back(std::move(send.block));
    return blocks;
}

std::vector<CheckRun::Send> CheckRun::takeSendsWithKind()
{
    return std::exchange(sends_, {});
}

std::vector<StepResult> CheckRun::takeResults()
{
    return std::exchange(results_, {});
}

std::optional<Instant> CheckRun::nextDeadline() const
{
    if (!started_ || finished_) {
        return std::nullopt;
    }
    return inStep_ ? deadline_ : resumeAt_;
}

bool CheckRun::finished() const
{
    return finished_;
}

bool CheckRun::passed() const
{
    return finished_ && !failed_;
}

void CheckRun::proceed(Instant now, bool deadlineInclusive)
{
    std::size_t budget = kMaxStepsPerCall;
    while (!finished_) {
        if (!inStep_) {
            if (budget-- == 0) {
                resumeAt_ = now;
                return;
            }
            beginStep(now);
        }
        const Step& current = step();
        if (const auto* send = std::get_if<SendStep>(&current.action)) {
            base::Result<std::string> block = composeSendBlock(
                *send, file_->mode, [this](std::string_view name) { return value(name); });
            if (!block) {
                endStep(StepFailure::NotSendable, block.error().text(), Millis{0}, now);
                return;
            }
            sends_.push_back({std::move(*block), send->isFrame});
            endStep(StepFailure::None, {}, Millis{0}, now);
            continue;
        }
        if (std::holds_alternative<WaitStep>(current.action)) {
            if (now < deadline_) {
                return;
            }
            endStep(StepFailure::None, {}, Millis{0}, now);
            continue;
        }
        if (!expectFill_.error.ok()) {
            endStep(StepFailure::BadValues, expectFill_.error.text(), Millis{0}, now);
            return;
        }
        if (const std::optional<Instant> answerAt = takeMatch()) {
            const auto answerTime = std::chrono::floor<Millis>(*answerAt - stepStart_);
            endStep(StepFailure::None, {}, std::max(Millis{0}, answerTime), now);
            continue;
        }
        if (now < deadline_ || (now == deadline_ && !deadlineInclusive)) {
            return;
        }
        const std::string within =
            std::to_string(std::chrono::floor<Millis>(deadline_ - stepStart_).count()) + " ms";
        if (passedOverCount_ == 0) {
            endStep(StepFailure::NoAnswer, "no answer within " + within, Millis{0}, now);
        } else {
            endStep(StepFailure::NoMatchingAnswer, "no matching answer within " + within, Millis{0},
                    now);
        }
        return;
    }
}

void CheckRun::beginStep(Instant now)
{
    inStep_ = true;
    stepStart_ = now;
    passedOver_.clear();
    passedOverCount_ = 0;
    if (const auto* wait = std::get_if<WaitStep>(&step().action)) {
        deadline_ = now + wait->duration;
    } else if (const auto* expect = std::get_if<ExpectStep>(&step().action)) {
        deadline_ = now + (expect->within.count() != 0 ? expect->within : file_->answerTimeout);
        // Filled once for the step, not again for every record it looks at.
        expectFill_ = fillExpect(*expect, [this](std::string_view name) { return value(name); });
    } else {
        deadline_ = now;
    }
}

void CheckRun::endStep(StepFailure failure, std::string reason, Millis answerTime, Instant now)
{
    const StepOutcome outcome =
        failure == StepFailure::None ? StepOutcome::Passed : StepOutcome::Failed;
    StepResult result;
    result.stepIndex = stepIndex_;
    result.stepName = stepName();
    result.round = round_;
    result.iteration = iteration_;
    result.outcome = outcome;
    result.failure = failure;
    result.answerTime = answerTime;
    result.endedAt = now;
    if (outcome == StepOutcome::Failed) {
        result.got = gotText();
    }
    result.reason = std::move(reason);
    results_.push_back(std::move(result));
    inStep_ = false;
    if (outcome == StepOutcome::Failed) {
        finished_ = true;
        failed_ = true;
        return;
    }
    if (++iteration_ <= step().repeat) {
        return;
    }
    iteration_ = 1;
    if (++stepIndex_ < file_->steps.size()) {
        return;
    }
    stepIndex_ = 0;
    if (++round_ > file_->repeat) {
        round_ = file_->repeat;
        stepIndex_ = file_->steps.size() - 1;
        finished_ = true;
    }
}

std::optional<Instant> CheckRun::takeMatch()
{
    while (!waiting_.empty()) {
        Record record = std::move(waiting_.front());
        waiting_.pop_front();
        waitingBytes_ -= record.bytes.size();
        if (recordMatches(record.bytes)) {
            return record.at;
        }
        passOver(record.bytes);
    }
    const auto& expect = std::get<ExpectStep>(step().action);
    const std::string_view pending = splitter_.pending();
    if (!expect.isFrame && !pendingTaken_ && !pending.empty() && recordMatches(pending)) {
        pendingTaken_ = true;
        return lastReceived_;
    }
    return std::nullopt;
}

bool CheckRun::recordMatches(std::string_view record) const
{
    const auto& expect = std::get<ExpectStep>(step().action);
    if (!expect.isFrame) {
        return record.find(expectFill_.contains) != std::string_view::npos;
    }
    if (!passesFrameCheck(record, file_->mode)) {
        return false;
    }
    const std::optional<protocol::DecodedFrame> frame = protocol::FrameDecoder::decode(record);
    return frame && frame->mode == file_->mode &&
           filledFrameMatches(expectFill_.frame, frame->fields);
}

void CheckRun::addRecord(std::string_view record, Instant now)
{
    if (pendingTaken_) {
        // The rest of a record whose start already matched.
        pendingTaken_ = false;
        return;
    }
    waiting_.push_back(Record{std::string(record), now});
    waitingBytes_ += record.size();
    while (waiting_.size() > kMaxWaitingRecords || waitingBytes_ > kMaxWaitingBytes) {
        waitingBytes_ -= waiting_.front().bytes.size();
        waiting_.pop_front();
    }
}

void CheckRun::passOver(std::string_view record)
{
    ++passedOverCount_;
    if (passedOver_.size() < kMaxGotRecords) {
        std::string shown = traffic::visibleText(record.substr(0, kMaxGotRecordLength));
        if (record.size() > kMaxGotRecordLength) {
            shown += "...";
        }
        passedOver_.push_back(std::move(shown));
    }
}

std::string CheckRun::gotText() const
{
    std::string got;
    for (const std::string& record : passedOver_) {
        got += (got.empty() ? "\"" : ", \"") + record + "\"";
    }
    if (passedOverCount_ > passedOver_.size()) {
        got += ", and " + std::to_string(passedOverCount_ - passedOver_.size()) + " more";
    }
    return got;
}

std::string CheckRun::stepName() const
{
    if (!step().name.empty()) {
        return step().name;
    }
    return "step " + std::to_string(stepIndex_ + 1) + ": " + actionName(step());
}

const std::string* CheckRun::value(std::string_view name) const
{
    const auto found = values_.find(name);
    return found == values_.end() ? nullptr : &found->second;
}

} // namespace check
