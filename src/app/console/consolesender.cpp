#include "consolesender.h"

#include "consolecontrols.h"
#include "dialogcombobox.h"
#include "ipv4addressedit.h"

#include "check/checkfile.h"
#include "check/stepaction.h"
#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"
#include "protocol/messageviewchannel.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>

namespace app
{

namespace
{

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kEchoPrefix = " -> ";

// Through the channel's send queue: a device that stops reading must not
// stop the window. The outcome needs no answer here: a message the queue
// drops (full, or the connection ending under it) is counted in its counts,
// which every send returns, and recorded as a failed write by the queue
// itself; the connection's end is told through the channel's events.
void sendWhole(protocol::MessageViewChannel& channel, const std::string& block)
{
    static_cast<void>(channel.sendBlock(block.data(), static_cast<std::uint32_t>(block.size())));
}

} // namespace

ConsoleSender::ConsoleSender(const ConsoleControls& controls, protocol::MessageViewChannel& channel,
                             QWidget* messageParent)
    : controls_(controls), channel_(channel), messageParent_(messageParent)
{
}

std::string ConsoleSender::freeText() const
{
    return textUpToNul(controls_.freeText()->text());
}

protocol::FrameFields ConsoleSender::frameFields() const
{
    return protocol::FrameFields{
        textUpToNul(controls_.media()->exchangeText()),
        textUpToNul(controls_.deviceId()->exchangeText()), textUpToNul(controls_.data()->text()),
        textUpToNul(controls_.command()->exchangeText()), textUpToNul(controls_.message()->text())};
}

void ConsoleSender::sendFreeText()
{
    if (!channel_.hasSocket())
        return;
    const std::string text = freeText();
    if (text.empty())
        return;
    // Not connected was ruled out above; a message the queue drops is in the
    // traffic record as a failed write, and the dialog shows nothing more.
    static_cast<void>(send(protocol::wireBlock(text), false, {}));
}

void ConsoleSender::sendCommandFrame()
{
    const protocol::FrameFields fields = frameFields();
    if (const base::Error problem =
            protocol::validateFrameFields(fields.media, fields.deviceId, fields.command);
        !problem.ok()) {
        showFieldMessage(problem.text());
        return;
    }
    if (!channel_.hasSocket())
        return;
    // As for the free text above.
    static_cast<void>(
        send(protocol::wireBlock(protocol::composeFrame(fields, channel_.delimiters().mode())),
             true, {}));
}

void ConsoleSender::echoFrame(std::string_view frame)
{
    // The echo shows a Release frame in its printable form; a Demo frame goes
    // in as it went out.
    const bool release = channel_.delimiters().mode() == protocol::DelimiterMode::Release;
    std::string echo(kEchoPrefix);
    echo.append(release ? protocol::frameDisplayText(frame) : std::string(frame)).append(kLineEnd);
    channel_.appendToView(echo);
}

bool ConsoleSender::connected() const
{
    return channel_.hasSocket();
}

bool ConsoleSender::datagrams() const
{
    // The socket type can only change while disconnected.
    return !controls_.tcp()->isChecked();
}

protocol::DelimiterMode ConsoleSender::delimiterMode() const
{
    return channel_.delimiters().mode();
}

check::Target ConsoleSender::device() const
{
    check::Target device;
    device.host = textUpToNul(controls_.address()->text());
    device.port = static_cast<std::uint16_t>(controls_.port()->text().toUShort());
    device.values["host"] = device.host;
    device.values["port"] = std::to_string(device.port);
    const protocol::FrameFields fields = frameFields();
    if (!fields.media.empty())
        device.values["media"] = fields.media;
    if (!fields.deviceId.empty())
        device.values["id"] = fields.deviceId;
    return device;
}

net::SendQueue::Counts ConsoleSender::sendCounts() const
{
    return channel_.sendCounts();
}

base::Result<net::SendQueue::Counts> ConsoleSender::send(const std::string& block, bool frame,
                                                        std::string_view note)
{
    // What came before this send shows before its echo.
    if (takeIn_)
        takeIn_();
    if (!channel_.hasSocket())
        return base::Error(base::Fault::BadInput, 0, "not connected");
    if (note_ && !note.empty())
        note_(note);
    sendWhole(channel_, block);
    if (frame) {
        std::string_view text(block);
        if (text.ends_with(protocol::kLineEnd))
            text.remove_suffix(protocol::kLineEndBytes);
        echoFrame(text);
    }
    return channel_.sendCounts();
}

base::Result<net::SendQueue::Counts> ConsoleSender::sendStep(const check::SendStep& step,
                                                            const check::DeviceValues& values,
                                                            std::string_view note)
{
    if (!channel_.hasSocket())
        return base::Error(base::Fault::BadInput, 0, "not connected");
    const check::ValueLookup lookup = [&](std::string_view name) -> const std::string* {
        const auto found = values.find(name);
        return found == values.end() ? nullptr : &found->second;
    };
    const base::Result<std::string> made = check::composeSendBlock(step, delimiterMode(), lookup);
    if (!made)
        return made.error();
    // The console never sends an empty free text; nor does a saved command.
    if (!step.isFrame && *made == protocol::wireBlock(""))
        return base::Error::input(base::Fault::BadInput, {}, "the text is empty");
    return send(*made, step.isFrame, note);
}

void ConsoleSender::showFieldMessage(std::string_view text)
{
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), latin1(text),
                    QMessageBox::Ok, messageParent_);
    box.exec();
}

} // namespace app
