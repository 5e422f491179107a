#include "consoledriver.h"

#include "dialogcontrols.h"
#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"

#include "app/console/consoletemplate.h"
#include "app/console/ipv4addressedit.h"
#include "app/view/messageview.h"

#include <QLineEdit>
#include <QTest>

using app::ConsoleDialog;
using app::ConsoleTemplate;

namespace consoledriver
{

std::string viewText(const ConsoleDialog& dialog)
{
    return controlOf<app::MessageView>(dialog, ConsoleTemplate::kMessageView)->contentBytes();
}

std::size_t countLines(const ConsoleDialog& dialog, std::string_view line)
{
    const std::string text = viewText(dialog);
    std::size_t count = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (std::string_view(text).substr(start, end - start) == line)
            ++count;
        start = end + 1;
    }
    return count;
}

bool isConnectedState(const ConsoleDialog& dialog)
{
    return !dialog.control(ConsoleTemplate::kConnect)->isEnabled() &&
           !dialog.control(ConsoleTemplate::kTcpRadio)->isEnabled() &&
           !dialog.control(ConsoleTemplate::kUdpRadio)->isEnabled() &&
           dialog.control(ConsoleTemplate::kDisconnect)->isEnabled() &&
           dialog.control(ConsoleTemplate::kSendMessage)->isEnabled();
}

bool isDisconnectedState(const ConsoleDialog& dialog)
{
    return dialog.control(ConsoleTemplate::kConnect)->isEnabled() &&
           dialog.control(ConsoleTemplate::kTcpRadio)->isEnabled() &&
           dialog.control(ConsoleTemplate::kUdpRadio)->isEnabled() &&
           !dialog.control(ConsoleTemplate::kDisconnect)->isEnabled() &&
           !dialog.control(ConsoleTemplate::kSendMessage)->isEnabled();
}

void click(ConsoleDialog& dialog, int id)
{
    QTest::mouseClick(dialog.control(id), Qt::LeftButton);
}

void chooseSocketType(ConsoleDialog& dialog, bool udp)
{
    click(dialog, udp ? ConsoleTemplate::kUdpRadio : ConsoleTemplate::kTcpRadio);
}

void clickConnect(ConsoleDialog& dialog, const std::string& portText)
{
    startConnect(dialog, portText);
    waitForConnectEnd(dialog);
}

bool waitForConnectEnd(const ConsoleDialog& dialog)
{
    return QTest::qWaitFor([&] { return !dialog.connectPending(); }, kWaitMs);
}

void startConnect(ConsoleDialog& dialog, const std::string& portText)
{
    controlOf<app::Ipv4AddressEdit>(dialog, ConsoleTemplate::kServerAddress)
        ->setText(QStringLiteral("127.0.0.1"));
    editOf(dialog, ConsoleTemplate::kPortEdit)->setText(QString::fromStdString(portText));
    click(dialog, ConsoleTemplate::kConnect);
}

namespace
{

bool stepFailed(const char* what, const char* step)
{
    qWarning("%s: %s", what, step);
    return false;
}

} // namespace

bool connectToTcpPeer(ConsoleDialog& dialog, LoopbackTcpServer& peer)
{
    clickConnect(dialog, peer.portText());
    if (!peer.accept(kWait))
        return stepFailed("TCP connect", "the peer saw no connect");
    if (!QTest::qWaitFor([&] { return isConnectedState(dialog); }, kWaitMs))
        return stepFailed("TCP connect", "no Connected state");
    return true;
}

bool connectUdp(ConsoleDialog& dialog, const std::string& portText)
{
    chooseSocketType(dialog, true);
    clickConnect(dialog, portText);
    if (!QTest::qWaitFor([&] { return isConnectedState(dialog); }, kWaitMs))
        return stepFailed("UDP connect", "no Connected state");
    return true;
}

bool introduceToUdpPeer(ConsoleDialog& dialog, LoopbackUdpPeer& peer)
{
    QLineEdit* freeText = editOf(dialog, ConsoleTemplate::kFreeTextEdit);
    QTest::keyClicks(freeText, QStringLiteral("hi"));
    QTest::keyClick(freeText, Qt::Key_Return);
    std::string datagram;
    if (!peer.receive(datagram, kWait))
        return stepFailed("free text to the UDP peer", "the peer received nothing");
    return true;
}

std::string tcpConnectLine(const std::string& portText)
{
    return "Connection established with server: 127.0.0.1 on port " + portText + "\n";
}

bool connectsAgain(ConsoleDialog& dialog)
{
    const auto failed = [](const char* step) {
        return stepFailed("console not fit for the next connect", step);
    };
    if (!isDisconnectedState(dialog))
        click(dialog, ConsoleTemplate::kDisconnect);
    if (!isDisconnectedState(dialog))
        return failed("Disconnect did not restore the Disconnected state");
    LoopbackTcpServer peer;
    if (!peer.listening())
        return failed("no loopback peer");
    chooseSocketType(dialog, false);
    clickConnect(dialog, peer.portText());
    if (!peer.accept(kWait))
        return failed("the peer saw no connect");
    if (!QTest::qWaitFor([&] { return isConnectedState(dialog); }, kWaitMs))
        return failed("no Connected state");
    if (viewText(dialog) != tcpConnectLine(peer.portText()))
        return failed("the view does not show the connect line alone");
    click(dialog, ConsoleTemplate::kDisconnect);
    if (!isDisconnectedState(dialog))
        return failed("no Disconnected state after the second Disconnect");
    return true;
}

} // namespace consoledriver
