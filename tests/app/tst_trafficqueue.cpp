// The Traffic window's intake: records from several threads arrive whole and
// in each thread's order, and a queue the UI thread does not empty in time
// drops its oldest records and counts them.

#include "trafficrecords.h"

#include "app/traffic/trafficqueue.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

using app::TrafficQueue;

class TestTrafficQueue : public QObject
{
    Q_OBJECT

private slots:
    void takeGivesEverythingInOrderOnce();
    void dropsTheOldestBeyondItsCapacity();
    void unopenedWindowDoesNotHoldAFloodInMemory();
    void takesRecordsFromManyThreads();
    void readsFramesOfEveryRecordAlsoOneDropped();
};

void TestTrafficQueue::takeGivesEverythingInOrderOnce()
{
    TrafficQueue queue;
    queue.record(readRecord("first"));
    queue.record(makeRecord(traffic::RecordKind::Write, QByteArray("a\0b", 3), "3 bytes written"));

    TrafficQueue::Batch batch = queue.take();
    QCOMPARE(batch.records.size(), 2u);
    QCOMPARE(batch.records[0].bytes, std::string("first"));
    QCOMPARE(batch.records[1].bytes, std::string("a\0b", 3));
    QCOMPARE(batch.records[1].text, std::string("3 bytes written"));
    QCOMPARE(batch.dropped, 0u);
    QVERIFY(queue.take().records.empty());
}

void TestTrafficQueue::dropsTheOldestBeyondItsCapacity()
{
    TrafficQueue queue(5);
    for (int i = 0; i < 8; ++i)
        queue.record(readRecord(QByteArray::number(i)));

    TrafficQueue::Batch batch = queue.take();
    QCOMPARE(batch.dropped, 3u);
    QCOMPARE(batch.records.size(), 5u);
    QCOMPARE(batch.records.front().bytes, std::string("3"));
    QCOMPARE(batch.records.back().bytes, std::string("7"));

    queue.record(readRecord("8"));
    batch = queue.take();
    QCOMPARE(batch.dropped, 0u);
    QCOMPARE(batch.records.size(), 1u);
}

// Regression: a window never opened takes nothing, and 100,000 records of a
// flood of 2 KB blocks grew the console by some 200 MB; the bytes held are
// bounded too.
void TestTrafficQueue::unopenedWindowDoesNotHoldAFloodInMemory()
{
    TrafficQueue queue(100, 10 * 1024);
    const QByteArray block(2048, 'x');
    for (int i = 0; i < 20; ++i)
        queue.record(readRecord(block));

    TrafficQueue::Batch batch = queue.take();
    // Four records of 2048 bytes and their texts fit in 10 KiB, a fifth does not.
    QCOMPARE(batch.records.size(), 4u);
    QCOMPARE(batch.dropped, 16u);

    // A record larger than the whole bound is still kept, alone.
    queue.record(readRecord(QByteArray(20 * 1024, 'y')));
    queue.record(readRecord(QByteArray(20 * 1024, 'z')));
    batch = queue.take();
    QCOMPARE(batch.records.size(), 1u);
    QCOMPARE(batch.records.front().bytes.front(), 'z');
    QCOMPARE(batch.dropped, 1u);
}

void TestTrafficQueue::takesRecordsFromManyThreads()
{
    constexpr int kThreads = 4;
    constexpr int kPerThread = 20000;
    TrafficQueue queue(kThreads * kPerThread); // room for all: none may be lost
    std::atomic<int> running{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&queue, &running, t] {
            for (int i = 0; i < kPerThread; ++i)
                queue.record(readRecord(QByteArray::number(t) + ':' + QByteArray::number(i)));
            --running;
        });
    }

    // Take while they record, as the window's timer does.
    std::map<int, int> next;
    std::size_t taken = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool last = false;
    while (!last && std::chrono::steady_clock::now() < deadline) {
        last = running == 0;
        TrafficQueue::Batch batch = queue.take();
        QCOMPARE(batch.dropped, 0u);
        for (const traffic::Record& record : batch.records) {
            const auto colon = record.bytes.find(':');
            const int thread = std::stoi(record.bytes.substr(0, colon));
            QCOMPARE(std::stoi(record.bytes.substr(colon + 1)), next[thread]++);
        }
        taken += batch.records.size();
    }
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(taken, static_cast<std::size_t>(kThreads * kPerThread));
}

void TestTrafficQueue::readsFramesOfEveryRecordAlsoOneDropped()
{
    TrafficQueue queue(1);
    queue.record(readRecord("[BA1"));
    QCOMPARE(queue.take().frames, std::vector<std::string>{""}); // no mode yet: not read

    queue.setDelimiterMode(protocol::DelimiterMode::Demo);
    queue.record(readRecord("[BA1"));
    queue.record(readRecord("x=ENT-a\r\n")); // drops the first, which was read all the same
    const TrafficQueue::Batch batch = queue.take();
    QCOMPARE(batch.dropped, 1u);
    QCOMPARE(batch.frames,
             std::vector<std::string>{
                 R"((began earlier) media=B id=A1 data="x" command=ENT message="a")"});
}

QTEST_MAIN(TestTrafficQueue)
#include "tst_trafficqueue.moc"
