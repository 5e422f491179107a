// Fault matrix, UDP: a frame sent to a port nobody listens on (the system
// answers with ICMP port unreachable), and a datagram without data. Either
// ends the console's reading: it shows the connection as abandoned, stays in
// the Connected state until the operator disconnects, and connects again
// afterwards.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "loopbackudppeer.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"

#include <QTest>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

constexpr std::string_view kDroppedLine = "Connection Abandonned";
constexpr std::string_view kUdpLineStart = "Socket created: IP: 127.0.0.1, Port: ";
const std::string kFrameEcho = " -> [BA139123439=ENT-Message / Description\n";

} // namespace

class TestFaultUdp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void frameToUnreachablePort();
    void zeroLengthDatagram();

private:
    ConsoleTestEnvironment environment_;
};

void TestFaultUdp::frameToUnreachablePort()
{
    std::string closedPort;
    {
        LoopbackUdpPeer gone;
        QVERIFY(gone.bound());
        closedPort = gone.portText();
    }
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QVERIFY(connectUdp(dialog, closedPort));
    const std::string connectLine = viewText(dialog);
    QVERIFY(connectLine.starts_with(kUdpLineStart));

    click(dialog, ConsoleTemplate::kSendThisData);
    QTRY_COMPARE_WITH_TIMEOUT(viewText(dialog),
                              connectLine + kFrameEcho + std::string(kDroppedLine) + "\n", kWaitMs);
    QVERIFY(isConnectedState(dialog));

    QVERIFY(connectsAgain(dialog));
}

void TestFaultUdp::zeroLengthDatagram()
{
    LoopbackUdpPeer peer;
    QVERIFY(peer.bound());
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QVERIFY(connectUdp(dialog, peer.portText()));
    const std::string connectLine = viewText(dialog);

    QVERIFY(introduceToUdpPeer(dialog, peer));
    QVERIFY(peer.sendToSender(""));
    QTRY_COMPARE_WITH_TIMEOUT(viewText(dialog), connectLine + std::string(kDroppedLine) + "\n",
                              kWaitMs);

    // Nothing is read any more: a frame that follows is not shown.
    QVERIFY(peer.sendToSender("[BA1=ENT-late\r\n"));
    click(dialog, ConsoleTemplate::kSendMessage);
    std::string datagram;
    QVERIFY(peer.receive(datagram, kWait));
    QCOMPARE(viewText(dialog), connectLine + std::string(kDroppedLine) + "\n");
    QVERIFY(isConnectedState(dialog));

    QVERIFY(connectsAgain(dialog));
}

QTEST_MAIN(TestFaultUdp)
#include "tst_faultudp.moc"
