// Fault matrix: the peer accepts and floods the console with frames; the
// operator disconnects, or closes the console, in the middle of it. Either
// ends the connection at once (the peer's sends fail), and the console can
// connect again afterwards (after a close: a new console can).

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "loopbacktcpserver.h"
#include "peerflood.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"

#include <QElapsedTimer>
#include <QTest>

#include <memory>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

// The flood must still be running when the console ends it: the console takes
// in far more than 200 MB in 20 s, so the time limit is what ends a flood left
// alone, and the count only bounds it.
constexpr std::chrono::seconds kFloodLimit{20};
constexpr std::size_t kMaxFloodBlocks = 20000000;
constexpr std::size_t kFramesPerBlock = 64;
// Some of the flood shows: while a flood outruns the view, the view holds only
// what it has shown lately, a few kilobytes on a slow (sanitizer) build.
constexpr std::size_t kShownBeforeEnding = 1024;
// Generous: ending must not wait for the flood to end by itself.
constexpr qint64 kEndWithinMs = 10000;

std::string frames()
{
    std::string block;
    for (std::size_t frame = 0; frame < kFramesPerBlock; ++frame)
        block += "[BA1=ENT-flood\r\n";
    return block;
}

enum class Ending { Disconnect, CloseButton, CloseRequest };

} // namespace

Q_DECLARE_METATYPE(Ending)

class TestFaultFlood : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void endingDuringFlood_data();
    void endingDuringFlood();

private:
    ConsoleTestEnvironment environment_;
};

void TestFaultFlood::endingDuringFlood_data()
{
    QTest::addColumn<Ending>("ending");
    QTest::newRow("Disconnect") << Ending::Disconnect;
    QTest::newRow("Close button") << Ending::CloseButton;
    QTest::newRow("close request") << Ending::CloseRequest;
}

void TestFaultFlood::endingDuringFlood()
{
    QFETCH(Ending, ending);
    LoopbackTcpServer peer;
    QVERIFY(peer.listening());
    auto dialog = std::make_unique<ConsoleDialog>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog.get()));
    QVERIFY(connectToTcpPeer(*dialog, peer));

    PeerFlood flood(PeerFlood::overTcp(peer), frames, kFloodLimit, kMaxFloodBlocks);
    QTRY_VERIFY_WITH_TIMEOUT(viewText(*dialog).size() > kShownBeforeEnding, kWaitMs);
    QVERIFY(!flood.finished());

    QElapsedTimer ending_;
    ending_.start();
    switch (ending) {
    case Ending::Disconnect:
        click(*dialog, ConsoleTemplate::kDisconnect);
        QVERIFY(isDisconnectedState(*dialog));
        break;
    case Ending::CloseButton:
        click(*dialog, ConsoleTemplate::kClose);
        break;
    case Ending::CloseRequest:
        QVERIFY(dialog->close());
        break;
    }
    const qint64 took = ending_.elapsed();
    qInfo("ending took %lld ms", took);
    QVERIFY(took < kEndWithinMs);
    if (ending != Ending::Disconnect) {
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }

    // The console let the connection go: the flood fails long before its limit.
    QTRY_VERIFY_WITH_TIMEOUT(flood.finished(), kWaitMs);
    QVERIFY(flood.sendFailed());

    if (ending != Ending::Disconnect) {
        dialog = std::make_unique<ConsoleDialog>();
        QVERIFY(ConsoleTestEnvironment::showActive(dialog.get()));
    }
    QVERIFY(connectsAgain(*dialog));
}

QTEST_MAIN(TestFaultFlood)
#include "tst_faultflood.moc"
