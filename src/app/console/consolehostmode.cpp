#include "consolehostmode.h"

#include "consolesender.h"

#include "app/devices/devicessettings.h"

#include "check/answerengine.h"
#include "protocol/delimiterset.h"

namespace app
{

ConsoleHostMode::ConsoleHostMode(protocol::MessageViewChannel& channel,
                                 const ConsoleConnector& connector, ConnectionWatch& watch,
                                 traffic::RecordingControl& recording, ConsoleSender& sender,
                                 const protocol::DelimiterSet& delimiters, DialogSeat::Hooks hooks)
    : recording_(recording), sender_(sender),
      seat_(channel, connector, watch, recording, std::move(hooks)),
      host_(std::make_unique<ConsoleHost>(seat_, watch, DevicesSettings().hostSettings()))
{
    QObject::connect(
        host_.get(), &ConsoleHost::note, host_.get(),
        [&recording](const QString& line) { recording.recorder().note(line.toStdString()); });
    recording_.setDevicesRecorderHook([this](std::shared_ptr<traffic::RecordSink> sink) {
        host_->devices().setRecorder(std::move(sink));
    });
    sender_.setAnswersChanged([this, &delimiters](bool on,
                                                  const std::vector<check::AnswerRule>& rules,
                                                  std::uint32_t perSecond) {
        host_->devices().setAnswers(on ? rules : std::vector<check::AnswerRule>{}, perSecond,
                                    delimiters.mode());
    });
}

ConsoleHostMode::~ConsoleHostMode()
{
    // The record and the sender outlive the host: nothing reaches it once it goes.
    recording_.setDevicesRecorderHook({});
    sender_.setAnswersChanged({});
    host_.reset();
}

} // namespace app
