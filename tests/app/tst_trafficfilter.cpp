// The Traffic window's filters: by direction and by text found in what the
// table shows (decoded frames too), also for records that arrive or are
// dropped while filtering.

#include "trafficrecords.h"

#include "app/traffic/trafficfilter.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficqueue.h"

#include <QTest>

#include <optional>
#include <vector>

using app::TrafficFilter;
using app::TrafficModel;
using app::TrafficQueue;
using traffic::Direction;
using traffic::RecordKind;

namespace
{

// Row 0..4 of the model the filters run on.
std::vector<traffic::Record> session()
{
    return {
        makeRecord(RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21210"),
        makeRecord(RecordKind::ConnectFailed, {}, "Connection refused after 0.3 ms"),
        makeRecord(RecordKind::Write, QByteArray("PING\r\n\0", 7), "7 bytes written"),
        readRecord(QByteArray("\x07"
                              "BA1\x08"
                              "ENT\x09"
                              "pong\r\n",
                              15)),
        makeRecord(RecordKind::Disconnect, {}, "closed by the operator"),
    };
}

// The model rows a filter lets through, in its order.
QList<int> shownRows(const TrafficFilter& filter)
{
    QList<int> rows;
    for (int row = 0; row < filter.rowCount(); ++row)
        rows += filter.mapToSource(filter.index(row, 0)).row();
    return rows;
}

} // namespace

using DirectionChoice = std::optional<Direction>;
Q_DECLARE_METATYPE(DirectionChoice)

class TestTrafficFilter : public QObject
{
    Q_OBJECT

private slots:
    void showsMatchingRows_data();
    void showsMatchingRows();
    void filtersRecordsThatArriveAndFollowsTrimming();
    void failedWritesOnly();
};

void TestTrafficFilter::showsMatchingRows_data()
{
    QTest::addColumn<DirectionChoice>("direction");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("rows");

    const DirectionChoice all;
    QTest::newRow("everything") << all << "" << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("sent") << DirectionChoice(Direction::Sent) << "" << QList<int>{2};
    QTest::newRow("received") << DirectionChoice(Direction::Received) << "" << QList<int>{3};
    QTest::newRow("events") << DirectionChoice(Direction::Event) << "" << QList<int>{0, 1, 4};
    QTest::newRow("visible text, any case") << all << "ping" << QList<int>{2};
    QTest::newRow("escaped line end") << all << QStringLiteral("\\r\\n") << QList<int>{2, 3};
    QTest::newRow("escaped delimiter") << all << QStringLiteral("1\\x08E") << QList<int>{3};
    QTest::newRow("hex") << all << "0d 0a 00" << QList<int>{2};
    QTest::newRow("delimiter byte in hex") << all << "08 45" << QList<int>{3};
    QTest::newRow("description") << all << "refused" << QList<int>{1};
    QTest::newRow("what the record is") << all << "connect-failed" << QList<int>{1};
    QTest::newRow("decoded field") << all << "command=ENT" << QList<int>{3};
    QTest::newRow("decoded fields, any case") << all << "ID=A1 DATA=\"\"" << QList<int>{3};
    QTest::newRow("bytes that are no frame") << all << "not a frame" << QList<int>{2};
    QTest::newRow("text within a direction")
        << DirectionChoice(Direction::Event) << "0.0.1" << QList<int>{0};
    QTest::newRow("nothing matches") << all << "absent" << QList<int>{};
}

void TestTrafficFilter::showsMatchingRows()
{
    QFETCH(DirectionChoice, direction);
    QFETCH(QString, text);
    QFETCH(QList<int>, rows);
    TrafficModel model;
    TrafficQueue queue;
    queue.setDelimiterMode(protocol::DelimiterMode::Demo);
    for (const traffic::Record& record : session())
        queue.record(record);
    TrafficQueue::Batch batch = queue.take();
    model.append(std::move(batch.records), std::move(batch.frames));
    TrafficFilter filter(&model);

    filter.setDirection(direction);
    filter.setText(text);
    QCOMPARE(shownRows(filter), rows);

    filter.setDirection(std::nullopt);
    filter.setText({});
    QCOMPARE(filter.rowCount(), model.rowCount());
}

void TestTrafficFilter::filtersRecordsThatArriveAndFollowsTrimming()
{
    TrafficModel model(4);
    TrafficFilter filter(&model);
    filter.setDirection(Direction::Received);

    model.append(session());
    QCOMPARE(shownRows(filter), QList<int>{2}); // row 0 was dropped: the read moved up

    model.append({readRecord("one"), readRecord("two")});
    QCOMPARE(shownRows(filter), (QList<int>{0, 2, 3}));
    model.append({readRecord("three"), readRecord("four"), readRecord("five")});
    QCOMPARE(shownRows(filter), (QList<int>{0, 1, 2, 3}));
    QCOMPARE(filter.index(0, TrafficModel::TextColumn).data().toString(), QStringLiteral("two"));
}

void TestTrafficFilter::failedWritesOnly()
{
    TrafficModel model;
    model.append(session());
    model.append({makeRecord(RecordKind::Write, "PING", "2 bytes written"),
                  makeRecord(RecordKind::Write, "PONG", "not written: the connection is closed"),
                  makeRecord(RecordKind::Event, {}, "write failed: not a write")});
    TrafficFilter filter(&model);
    // As the window's "Failed writes" entry sets it.
    filter.setDirection(Direction::Sent);
    filter.setFailedWritesOnly(true);
    QCOMPARE(shownRows(filter), (QList<int>{5, 6}));
    filter.setText(QStringLiteral("closed"));
    QCOMPARE(shownRows(filter), QList<int>{6});
    filter.setText({});
    filter.setFailedWritesOnly(false);
    QCOMPARE(shownRows(filter), (QList<int>{2, 5, 6}));
}

QTEST_MAIN(TestTrafficFilter)
#include "tst_trafficfilter.moc"
