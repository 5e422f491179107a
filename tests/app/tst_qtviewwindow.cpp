#include "app/view/messageview.h"
#include "app/view/qtviewwindow.h"
#include "app/view/socketevent.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <atomic>
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

// A window whose queue holds one four-byte text, filled with "full": the next
// append from another thread has to wait for the UI thread.
std::unique_ptr<QtViewWindow> filledWindow(MessageView* view, QObject* target)
{
    auto window = std::make_unique<QtViewWindow>(view, target, 4, 1);
    auto filled = std::async(std::launch::async, [&] { return window->appendText("full", 0); });
    if (!filled.get())
        return nullptr;
    return window;
}

// The frames a device might send, numbered: "[A01=n-frame\r\n".
std::string frame(int n)
{
    return "[A01=" + std::to_string(n) + "-frame\r\n";
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
    void textsFasterThanTheUiDrainsShowWholeAndInOrder_data();
    void textsFasterThanTheUiDrainsShowWholeAndInOrder();
    void appendRefusedAfterTheTimeOutNeverShows();
    void suspensionDuringABacklogRefusesAtOnceAndShowsTheBacklog();
    void eventAndUiAppendComeAfterTheTextsQueuedBeforeThem();
    void floodFasterThanTheViewEndsAsOneAppendEach();
    void uiAppendGoesAfterTextStillPending();
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
    QTRY_COMPARE(view.contentBytes(), expected);
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
    auto window = filledWindow(&view, nullptr);
    QVERIFY(window);
    // The UI thread serves no events until the append has given up.
    auto late = onOtherThread([&] { return window->appendText("late", 100); });
    QCOMPARE(late.wait_for(5s), std::future_status::ready);
    QCOMPARE(late.get(), false);
    drainEvents();
    QCOMPARE(view.contentBytes(), std::string("full"));

    // The next append is served normally.
    auto next = onOtherThread([&] { return window->appendText("next", 1000); });
    QVERIFY(serveUntilReady(next));
    QCOMPARE(next.get(), true);
    QTRY_COMPARE(view.contentBytes(), std::string("fullnext"));
}

void TestQtViewWindow::suspendedAppendsFailAtOnce()
{
    MessageView view;
    auto window = filledWindow(&view, nullptr);
    QVERIFY(window);
    // Whether the append is made before or after the suspension, it fails long
    // before its time-out, and its text never shows; what was queued shows.
    auto waiting = onOtherThread([&] { return window->appendText("lost", 60000); });
    window->setAppendsSuspended(true);
    QCOMPARE(waiting.wait_for(5s), std::future_status::ready);
    QCOMPARE(waiting.get(), false);
    QVERIFY(window->appendText("echo ", 0)); // the UI thread's own appends still show
    drainEvents();
    QCOMPARE(view.contentBytes(), std::string("fullecho "));

    window->setAppendsSuspended(false);
    auto resumed = onOtherThread([&] { return window->appendText("back", 1000); });
    QVERIFY(serveUntilReady(resumed));
    QCOMPARE(resumed.get(), true);
    QTRY_COMPARE(view.contentBytes(), std::string("fullecho back"));
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
    window.flush();
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
    auto window = filledWindow(view.get(), nullptr);
    QVERIFY(window);
    auto waiting = onOtherThread([&] { return window->appendText("lost", 60000); });
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
    // Queued, but the window goes before the UI thread gets to it.
    auto late = onOtherThread([&] { return window->appendText("late", 50); });
    QCOMPARE(late.wait_for(5s), std::future_status::ready);
    QCOMPARE(late.get(), true);
    window->postToParent(0x9234, 2, 3);
    window.reset();
    drainEvents();
    QCOMPARE(view.contentBytes(), std::string());
    QVERIFY(target.received.empty());
}

void TestQtViewWindow::textsFasterThanTheUiDrainsShowWholeAndInOrder_data()
{
    // A small queue makes the watcher wait for room again and again; the
    // counts keep the drains (one a frame) within a second or two.
    QTest::addColumn<int>("queueBytes");
    QTest::addColumn<int>("queueTexts");
    QTest::addColumn<int>("count");
    QTest::newRow("default queue")
        << int(QtViewWindow::kQueueBytes) << int(QtViewWindow::kQueueTexts) << 5000;
    QTest::newRow("queue of 200 bytes") << 200 << 1000 << 400;
    QTest::newRow("queue of 3 texts") << 100000 << 3 << 90;
}

void TestQtViewWindow::textsFasterThanTheUiDrainsShowWholeAndInOrder()
{
    QFETCH(int, queueBytes);
    QFETCH(int, queueTexts);
    QFETCH(int, count);
    MessageView view;
    QtViewWindow window(&view, nullptr, static_cast<std::size_t>(queueBytes),
                        static_cast<std::size_t>(queueTexts));
    auto result = onOtherThread([&] {
        int placed = 0;
        for (int i = 0; i < count; ++i)
            placed += window.appendText(frame(i), 5000) ? 1 : 0;
        return placed;
    });
    // The UI thread is busy while the first texts come in; a small queue
    // fills, and the rest comes in as drains make room.
    QTest::qSleep(50);
    QVERIFY(serveUntilReady(result));
    QCOMPARE(result.get(), count);
    std::string expected;
    for (int i = 0; i < count; ++i)
        expected += "[A01=" + std::to_string(i) + "-frame\n";
    QTRY_COMPARE(view.contentBytes(), expected);
}

void TestQtViewWindow::appendRefusedAfterTheTimeOutNeverShows()
{
    MessageView view;
    QtViewWindow window(&view, nullptr, 2 * frame(0).size(), 100);
    // The UI thread serves nothing while the queue fills and the third frame
    // waits the channel's whole append time-out.
    auto placed = onOtherThread([&] {
        std::vector<bool> results;
        for (int i = 0; i < 3; ++i)
            results.push_back(window.appendText(frame(i), protocol::ViewWindow::kAppendTimeoutMs));
        return results;
    });
    QCOMPARE(placed.wait_for(10s), std::future_status::ready);
    QCOMPARE(placed.get(), (std::vector<bool>{true, true, false}));

    auto after = onOtherThread([&] { return window.appendText(frame(3), 1000); });
    QVERIFY(serveUntilReady(after));
    QCOMPARE(after.get(), true);
    const std::string expected = "[A01=0-frame\n[A01=1-frame\n[A01=3-frame\n";
    QTRY_COMPARE(view.contentBytes(), expected);
    // Nothing turns up later either.
    QTest::qWait(3 * QtViewWindow::kDrainIntervalMs);
    QCOMPARE(view.contentBytes(), expected);
}

void TestQtViewWindow::suspensionDuringABacklogRefusesAtOnceAndShowsTheBacklog()
{
    MessageView view;
    QtViewWindow window(&view, nullptr, 4 * frame(0).size(), 100);
    // The UI thread serves nothing: four frames fill the queue, the fifth
    // waits for room (or is refused at once should the suspension come first).
    std::atomic<int> placed{0};
    auto waiting = onOtherThread([&] {
        for (int i = 0; i < 4; ++i)
            placed += window.appendText(frame(i), 1000) ? 1 : 0;
        return window.appendText(frame(4), 60000);
    });
    QElapsedTimer filling;
    filling.start();
    while (placed < 4 && filling.elapsed() < 5000)
        std::this_thread::yield();
    QCOMPARE(placed.load(), 4);

    window.setAppendsSuspended(true);
    QCOMPARE(waiting.wait_for(5s), std::future_status::ready);
    QCOMPARE(waiting.get(), false);
    const std::string backlog = "[A01=0-frame\n[A01=1-frame\n[A01=2-frame\n[A01=3-frame\n";
    QCOMPARE(view.contentBytes(), backlog);

    // While suspended, a new append is refused at once, even with room.
    auto refused = onOtherThread([&] { return window.appendText(frame(5), 60000); });
    QCOMPARE(refused.wait_for(5s), std::future_status::ready);
    QCOMPARE(refused.get(), false);
    window.setAppendsSuspended(false);
    drainEvents();
    QCOMPARE(view.contentBytes(), backlog);
}

void TestQtViewWindow::eventAndUiAppendComeAfterTheTextsQueuedBeforeThem()
{
    MessageView view;
    // Records what the view showed when the event arrived.
    class SnapshotRecorder : public EventRecorder
    {
    public:
        explicit SnapshotRecorder(const MessageView& view) : view_(view) {}
        std::string seen;
        bool event(QEvent* event) override
        {
            if (event->type() == SocketEvent::eventType())
                seen = view_.contentBytes();
            return EventRecorder::event(event);
        }

    private:
        const MessageView& view_;
    } target(view);
    QtViewWindow window(&view, &target);

    auto queued = onOtherThread([&] {
        bool placed = window.appendText(frame(0), 1000);
        placed = window.appendText("Connection Abandonned\r\n", 1000) && placed;
        window.postToParent(0x9234, 2, 0);
        return placed;
    });
    QCOMPARE(queued.wait_for(5s), std::future_status::ready);
    QVERIFY(queued.get());
    QTRY_COMPARE(target.received.size(), std::size_t(1));
    QCOMPARE(target.seen, std::string("[A01=0-frame\nConnection Abandonned\n"));

    // An append on the UI thread (the echo of a sent frame) lands at once,
    // ahead of what was queued and not yet shown, which follows at the next
    // drain; after a flush() it lands after what was queued before.
    auto more = onOtherThread([&] { return window.appendText(frame(1), 1000); });
    QCOMPARE(more.wait_for(5s), std::future_status::ready);
    QVERIFY(more.get());
    QVERIFY(window.appendText(" -> echo\r\n", 0));
    QCOMPARE(view.contentBytes(), std::string("[A01=0-frame\nConnection Abandonned\n -> echo\n"));
    QTRY_COMPARE(view.contentBytes(),
                 std::string("[A01=0-frame\nConnection Abandonned\n -> echo\n[A01=1-frame\n"));
    auto last = onOtherThread([&] { return window.appendText(frame(2), 1000); });
    QCOMPARE(last.wait_for(5s), std::future_status::ready);
    QVERIFY(last.get());
    window.flush();
    QVERIFY(window.appendText(" -> echo\r\n", 0));
    QCOMPARE(view.contentBytes(), std::string("[A01=0-frame\nConnection Abandonned\n -> echo\n"
                                              "[A01=1-frame\n[A01=2-frame\n -> echo\n"));
}

void TestQtViewWindow::floodFasterThanTheViewEndsAsOneAppendEach()
{
    // Three views' worth of frames from another thread, far faster than the
    // view inserts lines: the view drops lines while they are pending, and
    // once it has caught up it holds what one append per frame leaves.
    constexpr int kFrames = 3 * MessageView::kMaxLines;
    MessageView view;
    QtViewWindow window(&view, nullptr);
    auto placed = onOtherThread([&] {
        int count = 0;
        for (int i = 0; i < kFrames; ++i)
            count += window.appendText(frame(i), protocol::ViewWindow::kAppendTimeoutMs) ? 1 : 0;
        return count;
    });
    QVERIFY(serveUntilReady(placed));
    QCOMPARE(placed.get(), kFrames);
    QTRY_COMPARE_WITH_TIMEOUT(view.pendingChars(), std::size_t(0), 20000);
    QVERIFY(view.charsNeverShown() > 0);

    // One append per frame: a line each, the open line after them, and
    // kTrimLines below the limit whenever the lines go beyond it (these
    // short lines never reach the character limit).
    int lines = 1;
    for (int i = 0; i < kFrames; ++i) {
        if (++lines > MessageView::kMaxLines)
            lines = MessageView::kMaxLines - MessageView::kTrimLines;
    }
    std::string expected;
    for (int i = kFrames - (lines - 1); i < kFrames; ++i)
        expected += "[A01=" + std::to_string(i) + "-frame\n";
    QCOMPARE(view.document()->blockCount(), lines);
    QVERIFY(view.contentBytes() == expected);
}

void TestQtViewWindow::uiAppendGoesAfterTextStillPending()
{
    // A queue that holds a whole flood, taken at once by a flush that shows
    // only its first pieces.
    constexpr int kFrames = 200000;
    MessageView view;
    QtViewWindow window(&view, nullptr, 8 * 1024 * 1024, kFrames);
    auto placed = onOtherThread([&] {
        int count = 0;
        for (int i = 0; i < kFrames; ++i)
            count += window.appendText(frame(i), 0) ? 1 : 0;
        return count;
    });
    QCOMPARE(placed.wait_for(10s), std::future_status::ready);
    QCOMPARE(placed.get(), kFrames);
    window.flush();
    QVERIFY(view.pendingChars() > 0);

    QVERIFY(window.appendText(" -> echo\r\n", 0));
    QVERIFY(!view.contentBytes().ends_with(" -> echo\n"));
    QTRY_COMPARE_WITH_TIMEOUT(view.pendingChars(), std::size_t(0), 20000);
    QVERIFY(view.contentBytes().ends_with("[A01=" + std::to_string(kFrames - 1) +
                                          "-frame\n -> echo\n"));
}

QTEST_MAIN(TestQtViewWindow)
#include "tst_qtviewwindow.moc"
