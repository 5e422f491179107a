#include "peersession.h"

#include "bytetext.h"

#include <algorithm>

namespace devicetools
{

namespace
{

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;

} // namespace

PeerSession::PeerSession(std::string peerText, const Settings& settings, Send send)
    : peerText_(std::move(peerText)), settings_(settings), send_(std::move(send))
{
}

PeerSession::Outcome PeerSession::handleRecord(std::string_view record)
{
    const std::optional<DecodedFrame> frame = FrameDecoder::decode(record);
    if (!frame) {
        settings_.log.write(peerText_, FrameDecoder::describeRaw(record));
        return Outcome::Continue;
    }
    settings_.log.write(peerText_, FrameDecoder::describe(*frame));
    ++frames_;
    const Outcome answered = sendAnswer(settings_.responder.answerTo(*frame));
    if (answered != Outcome::Continue) {
        return answered;
    }
    const FaultModes& faults = settings_.faults;
    if (faults.floodRate != 0 && !flood_ && !floodDone_) {
        flood_ = Flood{*frame, Clock::now(), 0, faults.floodCount()};
        settings_.log.write(peerText_, "flood: " + std::to_string(flood_->total) + " frames at " +
                                           std::to_string(faults.floodRate) + "/s begin");
    }
    if (faults.closeAfterFrames != 0 && frames_ >= faults.closeAfterFrames) {
        return Outcome::Close;
    }
    return Outcome::Continue;
}

PeerSession::Outcome PeerSession::sendAnswer(std::string_view answer)
{
    if (answer.empty()) {
        return Outcome::Continue;
    }
    const std::vector<std::string_view> pieces = settings_.faults.pieces(answer);
    if (settings_.verbose) {
        std::string text = "answer, " + std::to_string(answer.size()) + " bytes";
        if (pieces.size() > 1) {
            text += " in " + std::to_string(pieces.size()) + " pieces";
        }
        settings_.log.write(peerText_, text + ": \"" + escapedText(answer, true) + '"');
    }
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        // The pause lets each piece reach the peer as a block of its own; it
        // ends early when the simulator stops.
        if (i != 0 && settings_.stop.waitFor(settings_.faults.splitPauseMs)) {
            return Outcome::Failed;
        }
        if (!send_(pieces[i])) {
            return Outcome::Failed;
        }
    }
    return Outcome::Continue;
}

PeerSession::Clock::time_point PeerSession::floodDue(std::uint32_t index) const
{
    const std::int64_t offset =
        std::int64_t{index} * kMicrosecondsPerSecond / settings_.faults.floodRate;
    return flood_->start + std::chrono::microseconds(offset);
}

std::optional<std::uint32_t> PeerSession::msUntilFlood() const
{
    if (!flood_) {
        return std::nullopt;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(floodDue(flood_->sent) - Clock::now());
    return static_cast<std::uint32_t>(std::max<std::int64_t>(left.count(), 0));
}

PeerSession::Outcome PeerSession::sendDueFlood()
{
    if (!flood_) {
        return Outcome::Continue;
    }
    const Clock::time_point now = Clock::now();
    // Bounded twice: by the flood's frame count, and by its end time plus
    // kFloodLateMs, so a peer that reads slowly cannot stretch the flood.
    const Clock::time_point latest = flood_->start +
                                     std::chrono::milliseconds(settings_.faults.floodForMs) +
                                     std::chrono::milliseconds(kFloodLateMs);
    bool late = false;
    while (flood_->sent < flood_->total && floodDue(flood_->sent) <= now) {
        late = Clock::now() > latest;
        if (late) {
            break;
        }
        ++flood_->sent;
        if (!send_(Responder::floodFrame(flood_->trigger, flood_->sent))) {
            return Outcome::Failed;
        }
    }
    if (flood_->sent < flood_->total && !late && now <= latest) {
        return Outcome::Continue;
    }
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - flood_->start);
    settings_.log.write(peerText_, "flood: " + std::to_string(flood_->sent) + " of " +
                                       std::to_string(flood_->total) + " frames sent in " +
                                       std::to_string(took.count()) + " ms" +
                                       (late ? " (too late for the rest)" : ""));
    flood_.reset();
    floodDone_ = true;
    return Outcome::Continue;
}

} // namespace devicetools
