#include "app/messageview.h"
#include "app/qtviewwindow.h"
#include "app/socketevent.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using app::MessageView;
using app::QtViewWindow;
using app::SocketEvent;
using namespace std::chrono_literals;

namespace
{

// Stands for the console window: records every SocketEvent it receives.
class EventRecorder : public QObject
{
public:
    struct Received {
        std::uint32_t message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    std::vector<Received> received;

    bool event(QEvent* event) override
    {
        if (event->type() != SocketEvent::eventType())
            return QObject::event(event);
        const auto* socketEvent = static_cast<SocketEvent*>(event);
        received.push_back({socketEvent->message, socketEvent->wParam, socketEvent->lParam});
        return true;
    }
};

// Runs `call` on a thread of its own, as the watcher does.
template <typename Call> auto onOtherThread(Call call)
{
    return std::async(std::launch::async, std::move(call));
}

// Runs the UI thread's event loop until `result` is ready, at most five seconds.
template <typename T> bool serveUntilReady(std::future<T>& result)
{
    const auto ready = [&] { return result.wait_for(0ms) == std::future_status::ready; };
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (ready())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    if (!ready())
        loop.exec();
    return ready();
}

void drainEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace

class TestQtViewWindow : public QObject
{
    Q_OBJECT

private slots:
    void appendsFromAnotherThreadLandInOrder();
    void appendOnTheUiThreadIsImmediate();
    void timedOutAppendNeverShowsUpLater();
    void suspendedAppendsFailAtOnce();
    void postToParentDeliversTheValues_data();
    void postToParentDeliversTheValues();
    void lateCallsAfterTheViewOrTargetIsGone_data();
    void lateCallsAfterTheViewOrTargetIsGone();
    void waitingAppendEndsWhenTheViewGoes();
    void handedOverWorkIsDroppedWithTheWindow();
};

void TestQtViewWindow::appendsFromAnotherThreadLandInOrder()
{
    MessageView view;
    EventRecorder target;
    QtViewWindow window(&view, &target);
    constexpr int kCount = 500;
    auto result = onOtherThread([&] {
        int applied = 0;
        for (int i = 0; i < kCount; ++i)
            applied += window.appendText(std::to_string(i) + "\r\n", 1000) ? 1 : 0;
        return applied;
    });
    QVERIFY(serveUntilReady(result));
    QCOMPARE(result.get(), kCount);
    std::string expected;
    for (int i = 0; i < kCount; ++i)
        expected += std::to_string(i) + "\n";
    QCOMPARE(view.contentBytes(), expected);
}

void TestQtViewWindow::appendOnTheUiThreadIsImmediate()
{
    MessageView view;
    QtViewWindow window(&view, nullptr);
    QVERIFY(window.appendText(" -> [A01=ABC-\r\n", 0));
    QCOMPARE(view.contentBytes(), std::string(" -> [A01=ABC-\n"));
}

void TestQtViewWindow::timedOutAppendNeverShowsUpLater()
{
    MessageView view;
    QtViewWindow window(&view, nullptr);
    // The UI thread serves no events until the append has given up.
    auto late = onOtherThread([&] { return window.appendText("late", 100); });
    QCOMPARE(late.wait_for(5s), std::future_status::ready);
    QCOMPARE(late.get(), false);
    drainEvents();
    QCOMPARE(view.contentBytes(), std::string());

    // The next append is served normally.
    auto next = onOtherThread([&] { return window.appendText("next", 1000); });
    QVERIFY(serveUntilReady(next));
    QCOMPARE(next.get(), true);
    QCOMPARE(view.contentBytes(), std::string("next"));
}

void TestQtViewWindow::suspendedAppendsFailAtOnce()
{
    MessageView view;
    QtViewWindow window(&view, nullptr);
    // Whether the append is made before or after the suspension, it fails long
    // before its time-out, and its text never shows.
    auto waiting = onOtherThread([&] { return window.appendText("lost", 60000); });
    window.setAppendsSuspended(true);
    QCOMPARE(waiting.wait_for(5s), std::future_status::ready);
    QCOMPARE(waiting.get(), false);
    QVERIFY(window.appendText("echo ", 0)); // the UI thread's own appends still show
    drainEvents();
    QCOMPARE(view.contentBytes(), std::string("echo "));

    window.setAppendsSuspended(false);
    auto resumed = onOtherThread([&] { return window.appendText("back", 1000); });
    QVERIFY(serveUntilReady(resumed));
    QCOMPARE(resumed.get(), true);
    QCOMPARE(view.contentBytes(), std::string("echo back"));
}

void TestQtViewWindow::postToParentDeliversTheValues_data()
{
    QTest::addColumn<quint32>("message");
    QTest::addColumn<quintptr>("wParam");
    QTest::addColumn<qintptr>("lParam");
    QTest::newRow("connection dropped") << quint32(0x9234) << quintptr(2) << qintptr(0x7f001234);
    QTest::newRow("extremes") << std::numeric_limits<quint32>::max()
                              << std::numeric_limits<quintptr>::max()
                              << std::numeric_limits<qintptr>::min();
}

void TestQtViewWindow::postToParentDeliversTheValues()
{
    QFETCH(quint32, message);
    QFETCH(quintptr, wParam);
    QFETCH(qintptr, lParam);
    MessageView view;
    EventRecorder target;
    QtViewWindow window(&view, &target);
    QVERIFY(window.parentExists());
    // Posting never waits, even while the UI thread serves nothing.
    auto posted = onOtherThread([&] { window.postToParent(message, wParam, lParam); });
    QCOMPARE(posted.wait_for(5s), std::future_status::ready);
    QVERIFY(target.received.empty());

    QTRY_COMPARE(target.received.size(), std::size_t(1));
    QCOMPARE(target.received[0].message, message);
    QCOMPARE(target.received[0].wParam, wParam);
    QCOMPARE(target.received[0].lParam, lParam);
}

void TestQtViewWindow::lateCallsAfterTheViewOrTargetIsGone_data()
{
    QTest::addColumn<bool>("dropView");
    QTest::addColumn<bool>("dropTarget");
    QTest::newRow("view gone") << true << false;
    QTest::newRow("target gone") << false << true;
    QTest::newRow("both gone") << true << true;
}

void TestQtViewWindow::lateCallsAfterTheViewOrTargetIsGone()
{
    QFETCH(bool, dropView);
    QFETCH(bool, dropTarget);
    auto view = std::make_unique<MessageView>();
    auto target = std::make_unique<EventRecorder>();
    QtViewWindow window(view.get(), target.get());
    // An event posted while the target existed must not reach a deleted one.
    window.postToParent(0x9234, 2, 1);
    if (dropView)
        view.reset();
    if (dropTarget)
        target.reset();

    QVERIFY(!window.parentExists());
    auto calls = onOtherThread([&] {
        window.postToParent(0x9234, 2, 2);
        return window.appendText("late", 1000);
    });
    QVERIFY(serveUntilReady(calls));
    QCOMPARE(calls.get(), !dropView);
    QCOMPARE(window.appendText("ui", 0), !dropView);
    drainEvents();
    if (view)
        QCOMPARE(view->contentBytes(), std::string("lateui"));
    if (target)
        QCOMPARE(target->received.size(), std::size_t(2));
}

void TestQtViewWindow::waitingAppendEndsWhenTheViewGoes()
{
    auto view = std::make_unique<MessageView>();
    QtViewWindow window(view.get(), nullptr);
    auto waiting = onOtherThread([&] { return window.appendText("lost", 60000); });
    view.reset();
    QCOMPARE(waiting.wait_for(5s), std::future_status::ready);
    QCOMPARE(waiting.get(), false);
    drainEvents();
}

void TestQtViewWindow::handedOverWorkIsDroppedWithTheWindow()
{
    MessageView view;
    EventRecorder target;
    auto window = std::make_unique<QtViewWindow>(&view, &target);
    auto late = onOtherThread([&] { return window->appendText("late", 50); });
    QCOMPARE(late.wait_for(5s), std::future_status::ready);
    QCOMPARE(late.get(), false);
    window->postToParent(0x9234, 2, 3);
    window.reset();
    drainEvents();
    QCOMPARE(view.contentBytes(), std::string());
    QVERIFY(target.received.empty());
}

QTEST_MAIN(TestQtViewWindow)
#include "tst_qtviewwindow.moc"
