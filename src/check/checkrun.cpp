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
    : file_(std::move(file)), values_(valuesWithDefaults(*file_, std::move(values)))
{
}

void CheckRun::start(Millis now)
{
    if (started_) {
        return;
    }
    started_ = true;
    if (file_->steps.empty()) {
        finished_ = true;
        return;
    }
    proceed(now, true);
}

void CheckRun::received(std::string_view bytes, Millis now)
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
    splitter_.feed(bytes, [&](std::string_view record) { addRecord(record, now); });
    if (started_) {
        proceed(now, true);
    }
}

void CheckRun::endOfRecord(Millis now)
{
    if (finished_) {
        return;
    }
    splitter_.finish([&](std::string_view record) { addRecord(record, now); });
    pendingTaken_ = false;
    if (started_) {
        proceed(now, true);
    }
}

void CheckRun::advance(Millis now)
{
    if (started_ && !finished_) {
        proceed(now, true);
    }
}

void CheckRun::abort(std::string_view reason, Millis now)
{
    if (finished_) {
        return;
    }
    if (!file_->steps.empty()) {
        endStep(StepOutcome::Failed, std::string(reason), Millis{0}, now);
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

std::optional<Millis> CheckRun::nextDeadline() const
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

void CheckRun::proceed(Millis now, bool deadlineInclusive)
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
            SendBlock block = composeSendBlock(
                *send, file_->mode, [this](std::string_view name) { return value(name); });
            if (!block.error.empty()) {
                endStep(StepOutcome::Failed, std::move(block.error), Millis{0}, now);
                return;
            }
            sends_.push_back({std::move(block.bytes), send->isFrame});
            endStep(StepOutcome::Passed, {}, Millis{0}, now);
            continue;
        }
        if (std::holds_alternative<WaitStep>(current.action)) {
            if (now < deadline_) {
                return;
            }
            endStep(StepOutcome::Passed, {}, Millis{0}, now);
            continue;
        }
        Millis answerAt{0};
        if (takeMatch(answerAt)) {
            endStep(StepOutcome::Passed, {}, std::max(Millis{0}, answerAt - stepStart_), now);
            continue;
        }
        if (now < deadline_ || (now == deadline_ && !deadlineInclusive)) {
            return;
        }
        const std::string within = std::to_string((deadline_ - stepStart_).count()) + " ms";
        endStep(StepOutcome::Failed,
                passedOverCount_ == 0
                    ? "no answer within " + within
                    : "no matching answer within " + within + "; got: " + gotText(),
                Millis{0}, now);
        return;
    }
}

void CheckRun::beginStep(Millis now)
{
    inStep_ = true;
    stepStart_ = now;
    passedOver_.clear();
    passedOverCount_ = 0;
    if (const auto* wait = std::get_if<WaitStep>(&step().action)) {
        deadline_ = now + wait->duration;
    } else if (const auto* expect = std::get_if<ExpectStep>(&step().action)) {
        deadline_ = now + (expect->within.count() != 0 ? expect->within : file_->answerTimeout);
    } else {
        deadline_ = now;
    }
}

void CheckRun::endStep(StepOutcome outcome, std::string reason, Millis answerTime, Millis now)
{
    StepResult result;
    result.stepIndex = stepIndex_;
    result.stepName = stepName();
    result.round = round_;
    result.iteration = iteration_;
    result.outcome = outcome;
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

bool CheckRun::takeMatch(Millis& answerAt)
{
    while (!waiting_.empty()) {
        Record record = std::move(waiting_.front());
        waiting_.pop_front();
        waitingBytes_ -= record.bytes.size();
        if (recordMatches(record.bytes)) {
            answerAt = record.at;
            return true;
        }
        passOver(record.bytes);
    }
    const auto& expect = std::get<ExpectStep>(step().action);
    const std::string_view pending = splitter_.pending();
    if (!expect.isFrame && !pendingTaken_ && !pending.empty() && recordMatches(pending)) {
        pendingTaken_ = true;
        answerAt = lastReceived_;
        return true;
    }
    return false;
}

bool CheckRun::recordMatches(std::string_view record) const
{
    const auto& expect = std::get<ExpectStep>(step().action);
    const ValueLookup lookup = [this](std::string_view name) { return value(name); };
    if (!expect.isFrame) {
        const std::optional<std::string> text = fillPlaceholders(expect.contains, lookup);
        return text && record.find(*text) != std::string_view::npos;
    }
    if (!passesFrameCheck(record, file_->mode)) {
        return false;
    }
    const std::optional<protocol::DecodedFrame> frame = protocol::FrameDecoder::decode(record);
    return frame && frame->mode == file_->mode && frameMatches(expect.frame, frame->fields, lookup);
}

void CheckRun::addRecord(std::string_view record, Millis now)
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
