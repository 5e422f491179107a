#include "consolesender.h"

#include "consolecontrols.h"
#include "dialogcombobox.h"

#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"
#include "protocol/messageviewchannel.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>

namespace app
{

namespace
{

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kEchoPrefix = " -> ";

// Through the channel's send queue: a device that stops reading must not
// stop the window.
void sendWhole(protocol::MessageViewChannel& channel, const std::string& block)
{
    channel.sendBlock(block.data(), static_cast<std::uint32_t>(block.size()));
}

} // namespace

ConsoleSender::ConsoleSender(const ConsoleControls& controls, protocol::MessageViewChannel& channel,
                             QWidget* messageParent)
    : controls_(controls), channel_(channel), messageParent_(messageParent)
{
}

void ConsoleSender::sendFreeText()
{
    if (!channel_.hasSocket())
        return;
    const std::string text = textUpToNul(controls_.freeText()->text());
    if (text.empty())
        return;
    sendWhole(channel_, protocol::wireBlock(text));
}

void ConsoleSender::sendCommandFrame()
{
    const protocol::FrameFields fields{
        textUpToNul(controls_.media()->exchangeText()),
        textUpToNul(controls_.deviceId()->exchangeText()), textUpToNul(controls_.data()->text()),
        textUpToNul(controls_.command()->exchangeText()), textUpToNul(controls_.message()->text())};
    const std::string_view problem =
        protocol::validateFrameFields(fields.media, fields.deviceId, fields.command);
    if (!problem.empty()) {
        showFieldMessage(problem);
        return;
    }
    if (!channel_.hasSocket())
        return;

    const protocol::DelimiterMode mode = protocol::DelimiterSet::instance().mode();
    const bool release = mode == protocol::DelimiterMode::Release;
    const std::string frame = protocol::composeFrame(fields, mode);
    sendWhole(channel_, protocol::wireBlock(frame));

    // The echo shows a Release frame in its printable form; a Demo frame goes
    // in as it went out.
    std::string echo(kEchoPrefix);
    echo.append(release ? protocol::frameDisplayText(frame) : frame).append(kLineEnd);
    channel_.appendToView(echo);
}

void ConsoleSender::showFieldMessage(std::string_view text)
{
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), latin1(text),
                    QMessageBox::Ok, messageParent_);
    box.exec();
}

} // namespace app
