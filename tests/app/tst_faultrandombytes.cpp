// Fault matrix: for a few seconds the peer sends 2048-byte blocks of random
// bytes (NUL bytes, delimiter codes and all), over TCP and over UDP. The
// console shows what its frame check lets through, keeps its view bounded,
// still sends afterwards, and connects again.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"
#include "peerflood.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/view/messageview.h"

#include <QTest>

#include <memory>
#include <random>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

constexpr std::chrono::seconds kFloodLimit{3};
constexpr std::size_t kMaxBlocks = 20000;
constexpr std::size_t kBlockSize = 2048;
constexpr int kFloodEndsWithinMs = 3000 + 2 * kWaitMs;
const std::string kDemoFrameOnWire("[BA139123439=ENT-Message / Description\r\n\0", 41);

// Random bytes from a fixed seed, so a failing run can be repeated.
PeerFlood::BlockMaker randomBlocks()
{
    auto engine = std::make_shared<std::mt19937>(20261207u);
    return [engine] {
        std::uniform_int_distribution<int> byte(0, 255);
        std::string block(kBlockSize, '\0');
        for (char& c : block)
            c = static_cast<char>(byte(*engine));
        return block;
    };
}

} // namespace

class TestFaultRandomBytes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void tcpRandomBlocks();
    void udpRandomBlocks();

private:
    ConsoleTestEnvironment environment_;
};

void TestFaultRandomBytes::tcpRandomBlocks()
{
    LoopbackTcpServer peer;
    QVERIFY(peer.listening());
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QVERIFY(connectToTcpPeer(dialog, peer));
    const std::string connectLine = viewText(dialog);

    {
        PeerFlood flood(PeerFlood::overTcp(peer), randomBlocks(), kFloodLimit, kMaxBlocks);
        QTRY_VERIFY_WITH_TIMEOUT(flood.finished(), kFloodEndsWithinMs);
        QVERIFY(!flood.sendFailed());
        qInfo("%zu random blocks sent", flood.blocksSent());
    }
    QVERIFY(dialog.isVisible());
    QVERIFY(isConnectedState(dialog));
    QVERIFY(viewText(dialog).size() > connectLine.size());
    QVERIFY(viewText(dialog).size() <= static_cast<std::size_t>(app::MessageView::kMaxChars));

    // The console still sends: the frame reaches the peer behind nothing else.
    click(dialog, ConsoleTemplate::kSendThisData);
    std::string received;
    QVERIFY(peer.receive(received, kWait));
    QCOMPARE(received, kDemoFrameOnWire);

    QVERIFY(connectsAgain(dialog));
}

void TestFaultRandomBytes::udpRandomBlocks()
{
    LoopbackUdpPeer peer;
    QVERIFY(peer.bound());
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QVERIFY(connectUdp(dialog, peer.portText()));
    click(dialog, ConsoleTemplate::kSendThisData);
    std::string received;
    QVERIFY(peer.receive(received, kWait));
    const std::string shownBefore = viewText(dialog);

    {
        PeerFlood flood(PeerFlood::overUdp(peer), randomBlocks(), kFloodLimit, kMaxBlocks);
        QTRY_VERIFY_WITH_TIMEOUT(flood.finished(), kFloodEndsWithinMs);
        QVERIFY(!flood.sendFailed());
        qInfo("%zu random datagrams sent", flood.blocksSent());
    }
    QVERIFY(dialog.isVisible());
    QVERIFY(isConnectedState(dialog));
    QTRY_VERIFY_WITH_TIMEOUT(viewText(dialog).size() > shownBefore.size(), kWaitMs);
    QVERIFY(viewText(dialog).size() <= static_cast<std::size_t>(app::MessageView::kMaxChars));

    click(dialog, ConsoleTemplate::kSendThisData);
    QVERIFY(peer.receive(received, kWait));
    QCOMPARE(received, kDemoFrameOnWire);

    QVERIFY(connectsAgain(dialog));
}

QTEST_MAIN(TestFaultRandomBytes)
#include "tst_faultrandombytes.moc"
