#include "app/view/messageview.h"
#include "app/view/qtviewwindow.h"
#include "app/view/socketevent.h"
#include "loopbacktcpserver.h"

#include "protocol/delimiterset.h"
#include "protocol/messageviewchannel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

using app::MessageView;
using app::QtViewWindow;
using app::SocketEvent;
using protocol::MessageViewChannel;

namespace
{

constexpr auto kAcceptLimit = std::chrono::seconds(5);

// Stands for the console window: records every SocketEvent it receives.
class EventRecorder : public QObject
{
public:
    std::vector<std::pair<std::uintptr_t, std::intptr_t>> received;

    bool event(QEvent* event) override
    {
        if (event->type() != SocketEvent::eventType())
            return QObject::event(event);
        const auto* socketEvent = static_cast<SocketEvent*>(event);
        if (socketEvent->message == MessageViewChannel::kSocketEventMessage)
            received.emplace_back(socketEvent->wParam, socketEvent->lParam);
        return true;
    }
};

// The view window with a flag raised when the watcher has placed an append.
class WatchedViewWindow : public QtViewWindow
{
public:
    using QtViewWindow::QtViewWindow;
    std::atomic<bool> appendPlaced{false};

    bool appendText(std::string_view text, std::uint32_t timeoutMs) override
    {
        const bool placed = QtViewWindow::appendText(text, timeoutMs);
        appendPlaced = placed;
        return placed;
    }
};

// The view, its window and a channel connected to a loopback TCP peer.
struct Console {
    protocol::DelimiterSet delimiters; // DEMO mode
    MessageView view;
    EventRecorder target;
    WatchedViewWindow window{&view, &target};
    MessageViewChannel channel{delimiters};
    LoopbackTcpServer peer;

    bool connect()
    {
        channel.setView(&window);
        return peer.listening() &&
               channel.openClient("127.0.0.1", peer.portText().c_str(), AF_INET, SOCK_STREAM) &&
               peer.accept(kAcceptLimit) && channel.startWatcher();
    }
    ~Console() { channel.stop(); }
};

} // namespace

class TestViewChannel : public QObject
{
    Q_OBJECT

private slots:
    void receivedBlocksShow_data();
    void receivedBlocksShow();
    void droppedConnectionShowsAndAnnounces();
    void stopWhileTheUiThreadIsBusy_data();
    void stopWhileTheUiThreadIsBusy();
};

void TestViewChannel::receivedBlocksShow_data()
{
    QTest::addColumn<QList<QByteArray>>("blocks");
    QTest::addColumn<QByteArray>("shown");
    using L = QList<QByteArray>;
    QTest::newRow("frame") << L{"[A01data=CMD-message\r\n"} << QByteArray("[A01data=CMD-message\n");
    QTest::newRow("bad block") << L{"no delimiters\r\n"} << QByteArray("Error received data !\n");
    QTest::newRow("frame, CR LF and NUL")
        << L{QByteArray("[B02=XYZ-\r\n\0rest", 16)} << QByteArray("[B02=XYZ-\n");
    QTest::newRow("bytes beyond ASCII")
        << L{"[C03\xA0\xFF=ABC-\xE9\r\n"} << QByteArray("[C03\xA0\xFF=ABC-\xE9\n");
    QTest::newRow("CR and LF in different blocks")
        << L{"[A01=ABC-x\r", "\n[B02=DEF-y\r\n"} << QByteArray("[A01=ABC-x\n[B02=DEF-y\n");
}

void TestViewChannel::receivedBlocksShow()
{
    QFETCH(QList<QByteArray>, blocks);
    QFETCH(QByteArray, shown);
    Console console;
    QVERIFY(console.connect());
    for (const QByteArray& block : blocks)
        QVERIFY(console.peer.send(block.toStdString()));
    const std::string expected(shown.constData(), static_cast<std::size_t>(shown.size()));
    QTRY_COMPARE(console.view.contentBytes(), expected);
}

void TestViewChannel::droppedConnectionShowsAndAnnounces()
{
    Console console;
    QVERIFY(console.connect());
    QVERIFY(console.peer.send("[A01=ABC-\r\n"));
    console.peer.closeConnection();

    QTRY_COMPARE(console.target.received.size(), std::size_t(1));
    QCOMPARE(console.target.received[0].first, std::uintptr_t(2));
    QCOMPARE(console.target.received[0].second, reinterpret_cast<std::intptr_t>(&console.channel));
    // The event line came before the event.
    QCOMPARE(console.view.contentBytes(), std::string("[A01=ABC-\nConnection Abandonned\n"));
}

void TestViewChannel::stopWhileTheUiThreadIsBusy_data()
{
    QTest::addColumn<bool>("suspend");
    QTest::newRow("appends suspended around stop") << true;
    QTest::newRow("no suspension") << false;
}

void TestViewChannel::stopWhileTheUiThreadIsBusy()
{
    QFETCH(bool, suspend);
    Console console;
    QVERIFY(console.connect());
    QVERIFY(console.peer.send("[A01=ABC-\r\n"));
    // The UI thread serves no events from here until the stop has returned.
    QElapsedTimer waited;
    waited.start();
    while (!console.window.appendPlaced && waited.elapsed() < 5000)
        std::this_thread::yield();
    QVERIFY(console.window.appendPlaced);

    QElapsedTimer stopping;
    stopping.start();
    if (suspend)
        console.window.setAppendsSuspended(true);
    console.channel.stop();
    if (suspend)
        console.window.setAppendsSuspended(false);
    const qint64 took = stopping.elapsed();
    qInfo("stop() took %lld ms", took);
    QVERIFY(!console.channel.hasSocket());
    QVERIFY(took <= net::SocketChannel::kReleasePauseMs + net::SocketChannel::kWatcherWaitMs);
    if (suspend)
        QVERIFY(took < protocol::ViewWindow::kAppendTimeoutMs);

    // The block was queued before the stop, so it shows, once and whole; the
    // watcher has ended, so nothing else does.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QTRY_COMPARE(console.view.contentBytes(), std::string("[A01=ABC-\n"));
    QTest::qWait(3 * QtViewWindow::kDrainIntervalMs);
    QCOMPARE(console.view.contentBytes(), std::string("[A01=ABC-\n"));
    QVERIFY(console.target.received.empty());
}

QTEST_MAIN(TestViewChannel)
#include "tst_viewchannel.moc"
