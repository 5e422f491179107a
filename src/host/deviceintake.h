#pragma once

#include "check/answerengine.h"
#include "protocol/commandframe.h"
#include "traffic/framestream.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host
{

// What one device sent, taken in without any I/O: the last frame item it
// completed (as the Traffic window's Frames column shows it) and, when
// automatic answers are on, the blocks that answer it, bounded per device by
// the answers' rate.
//
// One thread; memory bounded (FrameStream's and the answers' splitters cut a
// record without a line end at their bound, the last frame is cut at
// kLastFrameChars).
class DeviceIntake
{
public:
    static constexpr std::size_t kLastFrameChars = 200;

    explicit DeviceIntake(protocol::DelimiterMode mode);

    // Bytes received at `at`: a stream's piece, or one whole datagram. The
    // answer blocks due, ready to send (empty without answers).
    std::vector<std::string> received(std::string_view bytes, check::Chunk chunk,
                                      check::Instant at);
    // Answers by `rules` from now on (what came before is not answered), at
    // most `maxPerSecond` a second; no rules: none.
    void setAnswers(const std::vector<check::AnswerRule>& rules, std::uint32_t maxPerSecond);
    bool answering() const { return answers_ != nullptr; }
    std::uint64_t answered() const { return answers_ ? answers_->answered() : 0; }

    const std::string& lastFrame() const { return lastFrame_; }

    // The last item of FrameStream `items` that is a record, not the note of
    // one unfinished; empty when there is none.
    static std::string_view lastRecordItem(std::string_view items);
    protocol::DelimiterMode mode() const { return mode_; }

private:
    protocol::DelimiterMode mode_;
    traffic::FrameStream frames_;
    std::string items_; // reused from block to block
    std::string lastFrame_;
    std::unique_ptr<check::AnswerEngine> answers_;
};

} // namespace host
