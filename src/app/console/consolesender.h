#pragma once

#include "app/commands/consolelink.h"

#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace protocol
{
class MessageViewChannel;
struct FrameFields;
} // namespace protocol

namespace app
{

class ConsoleControls;

// The console's sends, each read from the controls at the moment of sending
// and put out as one wire block (CR LF NUL closed) through the channel's
// send queue (SocketChannel::sendBlock): the free text, and the command
// frame with its echo in the view. A send never waits for the socket: a
// block the socket cannot take at once goes out later, in order, or is
// dropped and shows only in the traffic record.
//
// It is also the ConsoleLink of the Commands window: every send of that
// window goes through send(), as the console's own do.
//
// UI thread only; it uses the channel only on that thread.
class ConsoleSender : public ConsoleLink
{
public:
    // `messageParent` is the window the field message boxes belong to.
    ConsoleSender(const ConsoleControls& controls, protocol::MessageViewChannel& channel,
                  QWidget* messageParent);

    // What the controls hold now: the free text and the frame fields, each
    // up to a NUL byte in it (what the sends below take).
    std::string freeText() const override;
    protocol::FrameFields frameFields() const override;

    // Sends the free text (up to a NUL byte in it), unless it is empty or no
    // socket is held.
    void sendFreeText();
    // Checks the frame fields first (a message box names the first one
    // missing, connected or not); then, with a socket held, sends the frame
    // in the channel's delimiter mode and appends " -> " and its printable
    // form to the view, whether the write got through or not.
    void sendCommandFrame();

    // ConsoleLink.
    bool connected() const override;
    bool datagrams() const override;
    protocol::DelimiterMode delimiterMode() const override;
    check::Target device() const override;
    ReceivedTap* received() const override { return received_; }
    net::SendQueue::Counts sendCounts() const override;
    [[nodiscard]] base::Result<net::SendQueue::Counts> send(const std::string& block, bool frame,
                                                            std::string_view note) override;
    [[nodiscard]] base::Result<net::SendQueue::Counts> sendStep(const check::SendStep& step,
                                                                const check::DeviceValues& values,
                                                                std::string_view note) override;

    // Where a send's note goes (the traffic record), how what was received
    // before is taken into the view, and the received bytes' tap.
    void setNote(std::function<void(std::string_view)> note) { note_ = std::move(note); }
    void setTakeIn(std::function<void()> takeIn) { takeIn_ = std::move(takeIn); }
    void setReceived(ReceivedTap* received) { received_ = received; }
    // Where answersChanged() goes (host mode); none by default.
    using AnswersChanged =
        std::function<void(bool on, const std::vector<check::AnswerRule>&, std::uint32_t)>;
    void setAnswersChanged(AnswersChanged changed) { answersChanged_ = std::move(changed); }
    void answersChanged(bool on, const std::vector<check::AnswerRule>& rules,
                        std::uint32_t perSecond) override
    {
        if (answersChanged_)
            answersChanged_(on, rules, perSecond);
    }

private:
    void showFieldMessage(std::string_view text);
    void echoFrame(std::string_view frame);

    const ConsoleControls& controls_;
    protocol::MessageViewChannel& channel_;
    QWidget* messageParent_;
    std::function<void(std::string_view)> note_;
    std::function<void()> takeIn_;
    ReceivedTap* received_ = nullptr;
    AnswersChanged answersChanged_;
};

} // namespace app
