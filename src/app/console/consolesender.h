#pragma once

#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace protocol
{
class MessageViewChannel;
struct FrameFields;
} // namespace protocol

namespace check
{
struct SendStep;
}

namespace app
{

class ConsoleControls;

// The console's two sends, each read from the controls at the moment of
// sending and put out as one wire block (CR LF NUL closed) through the
// channel's send queue (SocketChannel::sendBlock): the free text, and the
// command frame with its echo in the view. A send never waits for the
// socket: a block the socket cannot take at once goes out later, in order,
// or is dropped and shows only in the traffic record.
//
// UI thread only; it uses the channel only on that thread.
class ConsoleSender
{
public:
    // `messageParent` is the window the field message boxes belong to.
    ConsoleSender(const ConsoleControls& controls, protocol::MessageViewChannel& channel,
                  QWidget* messageParent);

    // What the controls hold now: the free text and the frame fields, each
    // up to a NUL byte in it (what the sends below take).
    std::string freeText() const;
    protocol::FrameFields frameFields() const;

    // Sends the free text (up to a NUL byte in it), unless it is empty or no
    // socket is held.
    void sendFreeText();
    // Checks the frame fields first (a message box names the first one
    // missing, connected or not); then, with a socket held, sends the frame
    // in the channel's delimiter mode and appends " -> " and its printable
    // form to the view, whether the write got through or not.
    void sendCommandFrame();

    // The same two sends with given texts instead of the controls' (no
    // message box; the fields are not checked here): the same wire block,
    // the same echo of a frame.
    void sendText(const std::string& text);
    void sendFrame(const protocol::FrameFields& fields);
    // Sends a saved command's step (placeholders filled, none but `{{` known),
    // after `note(noteText)` when set: empty when it went to the send queue,
    // else why not (not connected, a field off its width, ...).
    std::string sendStep(const check::SendStep& step, const std::string& noteText);
    // One whole block as given (a check run's), through the same queue, with
    // the echo of its frame when `frame` (a frame's wire block); empty when
    // queued, else why not.
    std::string sendWireBlock(const std::string& block, bool frame = false);
    void setNote(std::function<void(std::string_view)> note) { note_ = std::move(note); }

private:
    void showFieldMessage(std::string_view text);
    void echoFrame(std::string_view frame);

    const ConsoleControls& controls_;
    protocol::MessageViewChannel& channel_;
    QWidget* messageParent_;
    std::function<void(std::string_view)> note_;
};

} // namespace app
