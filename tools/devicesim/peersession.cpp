#include "peersession.h"

#include "bytetext.h"
#include "framedescription.h"

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

PeerSession::~PeerSession()
{
    summariseLog();
}

bool PeerSession::takeLogTurn()
{
    const Clock::time_point now = Clock::now();
    if (now - logWindowStart_ >= kLogWindow) {
        summariseLog();
        logWindowStart_ = now;
        loggedInWindow_ = 0;
    }
    if (settings_.logRate != 0 && loggedInWindow_ >= settings_.logRate) {
        ++leftOut_;
        return false;
    }
    ++loggedInWindow_;
    return true;
}

void PeerSession::summariseLog()
{
    if (leftOut_ == 0) {
        return;
    }
    // The peer text without its "tcp " or "udp ".
    const std::string_view endpoint = std::string_view(peerText_).substr(peerText_.find(' ') + 1);
    settings_.log.write(peerText_, "\u2026 " + SimulatorLog::groupedCount(leftOut_) + " more " +
                                       (leftOut_ == 1 ? "record" : "records") + " from " +
                                       std::string(endpoint) + " in the last second");
    leftOut_ = 0;
}

PeerSession::Outcome PeerSession::handleRecord(std::string_view record)
{
    const bool logged = takeLogTurn();
    const std::optional<protocol::DecodedFrame> frame = protocol::FrameDecoder::decode(record);
    if (!frame) {
        if (logged) {
            settings_.log.write(peerText_, describeRecord(record));
        }
        return Outcome::Continue;
    }
    if (logged) {
        settings_.log.write(peerText_, describeFrame(*frame));
    }
    if (!settings_.eventCommand.empty() && frame->fields.command == settings_.eventCommand) {
        return Outcome::Continue;
    }
    ++frames_;
    const Outcome answered = sendAnswer(settings_.responder.answerTo(*frame), logged);
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

PeerSession::Outcome PeerSession::sendAnswer(std::string_view answer, bool logged)
{
    if (answer.empty()) {
        return Outcome::Continue;
    }
    const std::vector<std::string_view> pieces = settings_.faults.pieces(answer);
    if (settings_.verbose && logged) {
        std::string text = "answer, " + std::to_string(answer.size()) + " bytes";
        if (pieces.size() > 1) {
            text += " in " + std::to_string(pieces.size()) + " pieces";
        }
        settings_.log.write(peerText_, text + ": \"" + escapedAscii(answer, true) + '"');
    }
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        // The pause lets each piece reach the peer as a block of its own.
        if (!send_(pieces[i], i == 0 ? 0 : settings_.faults.splitPauseMs)) {
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

std::optional<std::uint32_t> PeerSession::msUntilDue() const
{
    std::optional<Clock::time_point> due;
    if (flood_) {
        due = floodDue(flood_->sent);
    }
    if (leftOut_ != 0) {
        const Clock::time_point summary = logWindowStart_ + kLogWindow;
        due = due ? std::min(*due, summary) : summary;
    }
    if (!due) {
        return std::nullopt;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
    return static_cast<std::uint32_t>(std::max<std::int64_t>(left.count(), 0));
}

PeerSession::Outcome PeerSession::tick()
{
    if (leftOut_ != 0 && Clock::now() - logWindowStart_ >= kLogWindow) {
        summariseLog();
    }
    return sendDueFlood();
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
        if (!send_(Responder::floodFrame(flood_->trigger, flood_->sent), 0)) {
            settings_.log.write(peerText_, "flood: ended after a failed send, " +
                                               std::to_string(flood_->sent - 1) + " of " +
                                               std::to_string(flood_->total) + " frames sent");
            flood_.reset();
            floodDone_ = true;
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
