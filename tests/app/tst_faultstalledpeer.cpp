// Fault matrix: the TCP peer accepts and never reads, so the console's sends
// fill the socket's buffers. The window keeps answering while the operator
// sends on, Disconnect ends the connection at once, and what reached the peer
// is whole messages in the order sent: the rest was dropped and recorded.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "loopbacktcpserver.h"

#include "app/consoledialog.h"
#include "app/consoletemplate.h"
#include "protocol/commandframe.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

constexpr int kSends = 1000;
constexpr int kSendsPerTurn = 5;
constexpr qint64 kSendLimitMs = 20000;
constexpr int kReceiveBuffer = 4096;
constexpr int kSendBuffer = 32768;
constexpr double kP99LimitMs = 50.0;
constexpr qint64 kDisconnectLimitMs = 1000; // generous: the aim is 200
const std::string kWritten = std::to_string(protocol::kSendBlockSize) + " bytes written";

// Free text that fills a whole 2 KB block, numbered in its first digits.
std::string messageText(int number)
{
    const std::string digits = std::to_string(100000 + number);
    return digits + std::string(protocol::kFreeTextMaxLength - digits.size(), 'x');
}

// The whole messages in `wire`, or -1 when a byte is not part of a whole
// message or the numbers do not rise.
int wholeMessagesInOrder(const std::string& wire)
{
    int count = 0;
    for (std::size_t at = 0, last = 0; at < wire.size(); at += protocol::kSendBlockSize, ++count) {
        const std::size_t number = std::strtoul(wire.substr(at, 6).c_str(), nullptr, 10) - 100000;
        if ((count > 0 && number <= last) ||
            wire.compare(at, protocol::kSendBlockSize,
                         protocol::wireBlock(messageText(static_cast<int>(number)))) != 0)
            return -1;
        last = number;
    }
    return count;
}

// The console's Write records, counted by their text.
struct WriteTally : traffic::RecordSink {
    std::mutex mutex;
    std::map<std::string, int> texts;
    void record(const traffic::Record& record) override
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (record.kind == traffic::RecordKind::Write)
            ++texts[record.text];
    }
};

// The console with the send buffer of a real network link: a loopback
// connection starts with megabytes, which would hide the stall behind them.
class NetworkLinkConsole : public app::ConsoleDialog
{
protected:
    bool startWatcher() override
    {
        return ::setsockopt(channel().socketHandle(), SOL_SOCKET, SO_SNDBUF, &kSendBuffer,
                            sizeof kSendBuffer) == 0 &&
               ConsoleDialog::startWatcher();
    }
};

} // namespace

class TestFaultStalledPeer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void sendsToAPeerThatNeverReads();

private:
    ConsoleTestEnvironment environment_;
};

void TestFaultStalledPeer::sendsToAPeerThatNeverReads()
{
    LoopbackTcpServer peer(LoopbackTcpServer::kDefaultBacklog, kReceiveBuffer);
    NetworkLinkConsole dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    auto tally = std::make_shared<WriteTally>();
    dialog.trafficRecording().recorder().setSinks({tally});
    QVERIFY(connectToTcpPeer(dialog, peer));

    // How late a 10 ms timer fires is how long the operator's input waits.
    std::vector<double> latenessMs;
    QElapsedTimer sinceTick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    connect(&probe, &QTimer::timeout, this, [&] {
        latenessMs.push_back(static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 - 10.0);
        sinceTick.start();
    });
    sinceTick.start();
    probe.start(10);
    QElapsedTimer sending;
    sending.start();
    for (int sent = 0; sent < kSends && sending.elapsed() < kSendLimitMs; ++sent) {
        editOf(dialog, ConsoleTemplate::kFreeTextEdit)
            ->setText(QString::fromStdString(messageText(sent)));
        click(dialog, ConsoleTemplate::kSendMessage);
        if (sent % kSendsPerTurn == kSendsPerTurn - 1)
            QTest::qWait(1);
    }
    QTest::qWait(1000); // the sends wait meanwhile
    probe.stop();
    std::sort(latenessMs.begin(), latenessMs.end());
    const double p99 = latenessMs.at((latenessMs.size() - 1) * 99 / 100);
    QCOMPARE(viewText(dialog), tcpConnectLine(peer.portText()));

    QElapsedTimer disconnecting;
    disconnecting.start();
    click(dialog, ConsoleTemplate::kDisconnect);
    const qint64 disconnectMs = disconnecting.elapsed();
    QVERIFY(isDisconnectedState(dialog));
    std::string wire;
    for (std::string block; peer.receive(block, kWait);)
        wire += block;

    const int whole = wholeMessagesInOrder(wire);
    const std::lock_guard<std::mutex> lock(tally->mutex);
    qInfo("p99 timer lateness %.1f ms (%zu samples), Disconnect %lld ms, %d of %d messages "
          "whole at the peer",
          p99, latenessMs.size(), static_cast<long long>(disconnectMs), whole, kSends);
    int recorded = 0;
    for (const auto& [text, count] : tally->texts) {
        qInfo("%5d writes: %s", count, text.c_str());
        recorded += count;
    }
    QVERIFY(p99 < kP99LimitMs);
    QVERIFY(disconnectMs < kDisconnectLimitMs);
    QVERIFY2(whole > 0, "the peer got a cut message, stray bytes or a message out of order");
    QCOMPARE(whole, tally->texts[kWritten]);
    QCOMPARE(recorded, kSends);
    QVERIFY(whole < kSends);
}

QTEST_MAIN(TestFaultStalledPeer)
#include "tst_faultstalledpeer.moc"
