#include "consolesender.h"

#include "consolecontrols.h"
#include "dialogcombobox.h"

#include "check/checkfile.h"
#include "check/fieldtext.h"
#include "check/stepaction.h"
#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"
#include "protocol/messageviewchannel.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>

#include <optional>

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
    sendText(text);
}

void ConsoleSender::sendText(const std::string& text)
{
    sendWhole(channel_, protocol::wireBlock(text));
}

void ConsoleSender::sendCommandFrame()
{
    const protocol::FrameFields fields = frameFields();
    const std::string_view problem =
        protocol::validateFrameFields(fields.media, fields.deviceId, fields.command);
    if (!problem.empty()) {
        showFieldMessage(problem);
        return;
    }
    if (!channel_.hasSocket())
        return;
    sendFrame(fields);
}

void ConsoleSender::sendFrame(const protocol::FrameFields& fields)
{
    const std::string frame = protocol::composeFrame(fields, channel_.delimiters().mode());
    sendWhole(channel_, protocol::wireBlock(frame));
    echoFrame(frame);
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

std::string ConsoleSender::sendStep(const check::SendStep& step, const std::string& noteText)
{
    if (!channel_.hasSocket())
        return "not connected";
    const check::ValueLookup none = [](std::string_view) -> const std::string* { return nullptr; };
    std::string error;
    const auto fill = [&](const std::string& text) {
        std::string missing;
        std::optional<std::string> filled = check::fillPlaceholders(text, none, &missing);
        if (!filled && error.empty())
            error = "no value for {" + missing + "}";
        return filled.value_or(std::string());
    };
    if (!step.isFrame) {
        const std::string text = fill(step.text);
        if (error.empty())
            error = text.empty() ? "the text is empty" : check::freeTextError(text).text();
        if (!error.empty())
            return error;
        if (note_)
            note_(noteText);
        sendText(text);
        return {};
    }
    const protocol::FrameFields fields{fill(step.fields.media), fill(step.fields.deviceId),
                                       fill(step.fields.data), fill(step.fields.command),
                                       fill(step.fields.message)};
    if (error.empty())
        error = check::frameFieldsError(fields).text();
    if (!error.empty())
        return error;
    if (note_)
        note_(noteText);
    sendFrame(fields);
    return {};
}

std::string ConsoleSender::sendWireBlock(const std::string& block, bool frame)
{
    if (!channel_.hasSocket())
        return "not connected";
    sendWhole(channel_, block);
    if (frame) {
        std::string_view text(block);
        if (text.ends_with(protocol::kLineEnd))
            text.remove_suffix(protocol::kLineEndBytes);
        echoFrame(text);
    }
    return {};
}

void ConsoleSender::showFieldMessage(std::string_view text)
{
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), latin1(text),
                    QMessageBox::Ok, messageParent_);
    box.exec();
}

} // namespace app
