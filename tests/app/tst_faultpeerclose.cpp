// Fault matrix: the TCP peer goes away under the console, with an orderly
// close (FIN) or a reset (RST), while the console is idle or while it sends.
// The console shows the loss once, stays in the Connected state until the
// operator disconnects, keeps sending without harm (a write to a peer that is
// gone fails quietly, it raises no SIGPIPE), and connects again afterwards.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "loopbacktcpserver.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"

#include <QTest>

#include <sys/socket.h>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

constexpr std::string_view kDroppedLine = "Connection Abandonned";
constexpr std::string_view kFrameEcho = " -> [BA139123439=ENT-Message / Description";
constexpr int kSendsBefore = 5;
constexpr int kSendsAfter = 20;

// Makes the next close of the peer's connection a reset instead of a FIN.
bool resetOnClose(const LoopbackTcpServer& peer)
{
    const linger abort{1, 0};
    return ::setsockopt(peer.connection(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort) == 0;
}

void sendFrames(ConsoleDialog& dialog, int count)
{
    for (int sent = 0; sent < count; ++sent)
        click(dialog, ConsoleTemplate::kSendThisData);
}

} // namespace

class TestFaultPeerClose : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void peerGoesAway_data();
    void peerGoesAway();

private:
    ConsoleTestEnvironment environment_;
};

void TestFaultPeerClose::peerGoesAway_data()
{
    QTest::addColumn<bool>("reset");
    QTest::addColumn<bool>("whileSending");
    QTest::newRow("FIN while idle") << false << false;
    QTest::newRow("FIN while the console sends") << false << true;
    QTest::newRow("RST while idle") << true << false;
    QTest::newRow("RST while the console sends") << true << true;
}

void TestFaultPeerClose::peerGoesAway()
{
    QFETCH(bool, reset);
    QFETCH(bool, whileSending);
    LoopbackTcpServer peer;
    QVERIFY(peer.listening());
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QVERIFY(connectToTcpPeer(dialog, peer));
    const std::string connectLine = tcpConnectLine(peer.portText());

    int sends = 0;
    if (whileSending) {
        sendFrames(dialog, kSendsBefore);
        sends += kSendsBefore;
        std::string received;
        QVERIFY(peer.receive(received, kWait));
    }
    if (reset)
        QVERIFY(resetOnClose(peer));
    peer.closeConnection();
    if (whileSending) {
        sendFrames(dialog, kSendsAfter);
        sends += kSendsAfter;
    }

    // The loss is shown once; every frame sent is echoed, delivered or not.
    QTRY_COMPARE_WITH_TIMEOUT(countLines(dialog, kDroppedLine), std::size_t{1}, kWaitMs);
    QCOMPARE(countLines(dialog, kFrameEcho), static_cast<std::size_t>(sends));
    QVERIFY(viewText(dialog).starts_with(connectLine));
    QVERIFY(dialog.isVisible());
    QVERIFY(isConnectedState(dialog));

    QVERIFY(connectsAgain(dialog));
}

QTEST_MAIN(TestFaultPeerClose)
#include "tst_faultpeerclose.moc"
