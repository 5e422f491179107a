// Fault matrix: the TCP peer accepts and never reads, so the console's sends
// fill the socket's buffers. The window keeps answering while the operator
// sends on, Disconnect ends the connection at once, and what reached the peer
// is whole messages in the order sent: the rest was dropped and recorded.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "loopbacksocket.h"

#include "app/consoledialog.h"
#include "app/consoletemplate.h"
#include "protocol/commandframe.h"
#include "traffic/trafficrecord.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

constexpr int kSends = 1000;
constexpr int kSendsPerTurn = 5;
constexpr std::chrono::seconds kSendLimit{20};
constexpr int kReceiveBuffer = 4096;
constexpr double kP99LimitMs = 50.0;
// Generous: the aim is 200 ms.
constexpr qint64 kDisconnectLimitMs = 1000;
constexpr std::size_t kBlockSize = protocol::kSendBlockSize;

// Free text that fills a whole 2 KB block, numbered in its first digits.
std::string messageText(int number)
{
    char digits[8];
    std::snprintf(digits, sizeof digits, "%05d", number);
    std::string text(protocol::kFreeTextMaxLength, 'x');
    text.replace(0, 5, digits);
    return text;
}

// The whole messages in `wire`, or -1 when a byte is not part of a whole
// message or the numbers do not rise.
int wholeMessagesInOrder(const std::string& wire)
{
    int count = 0;
    int last = -1;
    for (std::size_t at = 0; at < wire.size(); at += kBlockSize, ++count) {
        const int number = std::atoi(wire.substr(at, 5).c_str());
        if (number <= last || wire.compare(at, kBlockSize, protocol::wireBlock(messageText(number))))
            return -1;
        last = number;
    }
    return count;
}

// Counts the console's Write records by their text.
class WriteTally : public traffic::RecordSink
{
public:
    void record(const traffic::Record& record) override
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (record.kind == traffic::RecordKind::Write)
            ++texts_[record.text];
    }
    std::map<std::string, int> texts()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

private:
    std::mutex mutex_;
    std::map<std::string, int> texts_;
};

// A listener on 127.0.0.1 with a small receive buffer, set before listen()
// so that the connection offers a small window from its first segment.
class StalledPeer
{
public:
    StalledPeer()
    {
        net::SocketAddress bound;
        listener_ = loopback::openBound(SOCK_STREAM, bound);
        port_ = ntohs(bound.port);
        if (::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer,
                         sizeof kReceiveBuffer) != 0 ||
            ::listen(listener_, 1) != 0)
            loopback::closeSocket(listener_);
    }
    ~StalledPeer()
    {
        loopback::closeSocket(connection_);
        loopback::closeSocket(listener_);
    }
    bool listening() const { return listener_ >= 0; }
    std::string portText() const { return std::to_string(port_); }
    bool accept()
    {
        if (!loopback::waitFor(listener_, POLLIN, kWait))
            return false;
        connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return connection_ >= 0;
    }
    // Reads until the console's end of stream; false when it does not come in time.
    bool readToEnd(std::string& wire)
    {
        std::vector<char> buffer(65536);
        while (loopback::waitFor(connection_, POLLIN, kWait)) {
            const ssize_t n = ::recv(connection_, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                return n == 0;
            wire.append(buffer.data(), static_cast<std::size_t>(n));
        }
        return false;
    }

private:
    net::SocketHandle listener_ = net::kInvalidSocket;
    net::SocketHandle connection_ = net::kInvalidSocket;
    std::uint16_t port_ = 0;
};

double percentile99(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[(values.size() - 1) * 99 / 100];
}

} // namespace

class TestFaultStalledPeer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void sendsToAPeerThatNeverReads();

private:
    ConsoleTestEnvironment environment_;
};

void TestFaultStalledPeer::sendsToAPeerThatNeverReads()
{
    StalledPeer peer;
    QVERIFY(peer.listening());
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    auto tally = std::make_shared<WriteTally>();
    dialog.trafficRecording().recorder().setSinks({tally});
    startConnect(dialog, peer.portText());
    QVERIFY(peer.accept());
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);

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

    QLineEdit* freeText = editOf(dialog, ConsoleTemplate::kFreeTextEdit);
    QElapsedTimer sending;
    sending.start();
    for (int sent = 0; sent < kSends && sending.durationElapsed() < kSendLimit; ++sent) {
        freeText->setText(QString::fromStdString(messageText(sent)));
        click(dialog, ConsoleTemplate::kSendMessage);
        if (sent % kSendsPerTurn == kSendsPerTurn - 1)
            QTest::qWait(1);
    }
    QTest::qWait(1000); // sends wait or time out meanwhile
    probe.stop();
    QCOMPARE(viewText(dialog), tcpConnectLine(peer.portText()));

    QElapsedTimer disconnecting;
    disconnecting.start();
    click(dialog, ConsoleTemplate::kDisconnect);
    const qint64 disconnectMs = disconnecting.elapsed();
    QVERIFY(isDisconnectedState(dialog));

    std::string wire;
    QVERIFY(peer.readToEnd(wire));
    const int whole = wholeMessagesInOrder(wire);
    const std::map<std::string, int> texts = tally->texts();
    int recorded = 0;
    for (const auto& [text, count] : texts)
        recorded += count;
    const std::string written = std::to_string(kBlockSize) + " bytes written";
    qInfo("stalled peer: %zu timer samples, p99 lateness %.1f ms; Disconnect %lld ms; "
          "%d of %d messages whole at the peer (%zu bytes)",
          latenessMs.size(), percentile99(latenessMs), static_cast<long long>(disconnectMs),
          whole, kSends, wire.size());
    for (const auto& [text, count] : texts)
        qInfo("  %5d  %s", count, text.c_str());

    QVERIFY(percentile99(latenessMs) < kP99LimitMs);
    QVERIFY(disconnectMs < kDisconnectLimitMs);
    QVERIFY2(whole > 0, "the peer got a cut message, stray bytes or a message out of order");
    QCOMPARE(whole, texts.count(written) ? texts.at(written) : 0);
    QCOMPARE(recorded, kSends);
    QVERIFY(whole < kSends);
}

QTEST_MAIN(TestFaultStalledPeer)
#include "tst_faultstalledpeer.moc"
