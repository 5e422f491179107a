// The Traffic window's table model: whole batches in one insert, the oldest
// dropped in one removal at the bounds, and what each column shows.

#include "trafficrecords.h"

#include "app/traffic/trafficexport.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficqueue.h"

#include <QBrush>
#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

#include <vector>

using app::TrafficModel;
using app::TrafficQueue;
using traffic::RecordKind;

namespace
{

// Records numbered from `first`, their number as their bytes.
std::vector<traffic::Record> numbered(int first, int count)
{
    std::vector<traffic::Record> batch;
    for (int i = first; i < first + count; ++i)
        batch.push_back(readRecord(QByteArray::number(i)));
    return batch;
}

// Appends `records` as the window does, with the frames `queue` read.
void appendRead(TrafficModel& model, TrafficQueue& queue, std::vector<traffic::Record> records)
{
    for (const traffic::Record& record : records)
        queue.record(record);
    TrafficQueue::Batch batch = queue.take();
    model.append(std::move(batch.records), std::move(batch.frames));
}

QString bytesOf(const TrafficModel& model, int row)
{
    return QString::fromStdString(model.record(row).bytes);
}

} // namespace

class TestTrafficModel : public QObject
{
    Q_OBJECT

private slots:
    void insertsEachBatchAtTheEndInOneGo();
    void keepsTheNewestRecordsAtTheBound_data();
    void keepsTheNewestRecordsAtTheBound();
    void columns_data();
    void columns();
    void clearForgetsRecordsAndTheDroppedCount();
    void failedAndPartialWritesStandOut_data();
    void failedAndPartialWritesStandOut();
    void keepsTheNewestRecordsWithinTheByteBound_data();
    void keepsTheNewestRecordsWithinTheByteBound();
    void framesCountTowardTheByteBound();
    void framesColumnShowsWhatEachRecordCompletes_data();
    void framesColumnShowsWhatEachRecordCompletes();
};

void TestTrafficModel::insertsEachBatchAtTheEndInOneGo()
{
    TrafficModel model;
    QSignalSpy inserted(&model, &TrafficModel::rowsInserted);
    QSignalSpy reset(&model, &TrafficModel::modelReset);

    model.append(numbered(0, 500));
    model.append({});
    model.append(numbered(500, 3));

    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 499);
    QCOMPARE(inserted.at(1).at(1).toInt(), 500);
    QCOMPARE(inserted.at(1).at(2).toInt(), 502);
    QCOMPARE(reset.count(), 0);
    QCOMPARE(model.rowCount(), 503);
    QCOMPARE(bytesOf(model, 502), QStringLiteral("502"));
}

void TestTrafficModel::keepsTheNewestRecordsAtTheBound_data()
{
    QTest::addColumn<QList<int>>("batches");
    QTest::addColumn<int>("removals");

    // Bound 10 throughout.
    QTest::newRow("below the bound") << QList<int>{4, 6} << 0;
    QTest::newRow("second batch crosses it") << QList<int>{6, 6} << 1;
    QTest::newRow("one batch beyond it") << QList<int>{25} << 0;
    QTest::newRow("full, then beyond it") << QList<int>{10, 25} << 1;
    QTest::newRow("many small batches") << QList<int>{3, 3, 3, 3, 3} << 2;
}

void TestTrafficModel::keepsTheNewestRecordsAtTheBound()
{
    QFETCH(QList<int>, batches);
    QFETCH(int, removals);
    constexpr int kBound = 10;
    TrafficModel model(kBound);
    QSignalSpy inserted(&model, &TrafficModel::rowsInserted);
    QSignalSpy removed(&model, &TrafficModel::rowsRemoved);
    QSignalSpy reset(&model, &TrafficModel::modelReset);

    int total = 0;
    for (const int size : batches) {
        model.append(numbered(total, size));
        total += size;
        QVERIFY(model.rowCount() <= kBound);
    }

    const int kept = std::min(total, kBound);
    QCOMPARE(model.rowCount(), kept);
    QCOMPARE(model.droppedCount(), static_cast<std::uint64_t>(total - kept));
    QCOMPARE(bytesOf(model, 0), QString::number(total - kept));
    QCOMPARE(bytesOf(model, kept - 1), QString::number(total - 1));
    QCOMPARE(inserted.count(), batches.size());
    QCOMPARE(removed.count(), removals);
    QCOMPARE(reset.count(), 0);
}

void TestTrafficModel::columns_data()
{
    QTest::addColumn<traffic::Record>("record");
    QTest::addColumn<QString>("direction");
    QTest::addColumn<QVariant>("length");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("toolTip");

    QTest::newRow("frame sent") << makeRecord(RecordKind::Write, QByteArray("[A=B-C\r\n\0", 9),
                                              "9 bytes written")
                                << "sent" << QVariant(9ULL) << QStringLiteral("[A=B-C\\r\\n\\0")
                                << "5b 41 3d 42 2d 43 0d 0a 00"
                                << "9 bytes written";
    QTest::newRow("control bytes received")
        << readRecord(kControlBytes) << "received" << QVariant(9ULL)
        << QStringLiteral("A\\0\\x07\\x08\\x09\\r\\n\\x7f\\xe9") << "41 00 07 08 09 0d 0a 7f e9"
        << "frame check: passed";
    // A cell stops after kCellBytes bytes; the record keeps them all.
    const QByteArray block(TrafficModel::kCellBytes + 1, 'x');
    QString cellHex;
    for (std::size_t i = 0; i < TrafficModel::kCellBytes; ++i)
        cellHex += i == 0 ? QStringLiteral("78") : QStringLiteral(" 78");
    QTest::newRow("long block received")
        << readRecord(block) << "received" << QVariant(qulonglong(block.size()))
        << QString(TrafficModel::kCellBytes, QLatin1Char('x')) + QChar(0x2026)
        << cellHex + QChar(0x2026) << "frame check: passed";
    QTest::newRow("connect failed")
        << makeRecord(RecordKind::ConnectFailed, {}, "Connection refused after 0.2 ms") << "event"
        << QVariant() << "connect-failed"
        << "Connection refused after 0.2 ms"
        << "Connection refused after 0.2 ms";
    QTest::newRow("zero-length datagram")
        << makeRecord(RecordKind::Event, {}, "zero-length datagram") << "event" << QVariant()
        << "event"
        << "zero-length datagram"
        << "zero-length datagram";
}

void TestTrafficModel::columns()
{
    QFETCH(traffic::Record, record);
    QFETCH(QString, direction);
    QFETCH(QVariant, length);
    QFETCH(QString, text);
    QFETCH(QString, hex);
    QFETCH(QString, toolTip);
    TrafficModel model;
    model.append({record});

    const auto shown = [&model](int column, int role = Qt::DisplayRole) {
        return model.data(model.index(0, column), role);
    };
    // Local time of day; the date shows in the time's tool tip.
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(1796648527513);
    QCOMPARE(shown(TrafficModel::TimeColumn).toString(),
             local.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(".513042"));
    QCOMPARE(shown(TrafficModel::TimeColumn, Qt::ToolTipRole).toString(),
             local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(".513042"));
    QCOMPARE(shown(TrafficModel::DirectionColumn).toString(), direction);
    QCOMPARE(shown(TrafficModel::LengthColumn), length);
    QCOMPARE(shown(TrafficModel::TextColumn).toString(), text);
    QCOMPARE(shown(TrafficModel::HexColumn).toString(), hex);
    QCOMPARE(shown(TrafficModel::TextColumn, Qt::ToolTipRole).toString(), toolTip);
}

void TestTrafficModel::clearForgetsRecordsAndTheDroppedCount()
{
    TrafficModel model(5);
    model.append(numbered(0, 8));
    model.addDropped(4);
    QCOMPARE(model.droppedCount(), 7u);

    model.clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.droppedCount(), 0u);
    model.append(numbered(100, 2));
    QCOMPARE(bytesOf(model, 0), QStringLiteral("100"));
}

void TestTrafficModel::failedAndPartialWritesStandOut_data()
{
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("direction");
    QTest::addColumn<int>("outcome");
    QTest::newRow("whole") << "8 bytes written"
                           << "sent" << int(traffic::WriteOutcome::Whole);
    QTest::newRow("partial") << "3 bytes written"
                             << "sent (partial)" << int(traffic::WriteOutcome::Partial);
    QTest::newRow("not written") << "not written: the connection is closed"
                                 << "sent (failed)" << int(traffic::WriteOutcome::Failed);
    QTest::newRow("failed") << "write failed: Broken pipe"
                            << "sent (failed)" << int(traffic::WriteOutcome::Failed);
}

void TestTrafficModel::failedAndPartialWritesStandOut()
{
    QFETCH(QString, result);
    QFETCH(QString, direction);
    QFETCH(int, outcome);
    TrafficModel model;
    // A read with such a text is no write: it stays as it was.
    model.append({makeRecord(RecordKind::Write, "[A=B-C\r\n", result.toStdString()),
                  makeRecord(RecordKind::Read, "x", result.toStdString())});
    QCOMPARE(model.index(0, TrafficModel::DirectionColumn).data().toString(), direction);
    // Copy and CSV say it as the table does.
    const traffic::Record* write = &model.record(0);
    QCOMPARE(app::TrafficExport::copyText({write}).split(QLatin1Char('\t')).value(1), direction);
    QCOMPARE(app::TrafficExport::csvLine(*write).split(QLatin1Char(',')).value(1), direction);
    const QColor colour = TrafficModel::writeColour(traffic::WriteOutcome(outcome));
    for (int column = 0; column < model.columnCount(); ++column) {
        QCOMPARE(model.index(0, column).data(Qt::ForegroundRole).value<QBrush>().color(),
                 colour.isValid() ? colour : QColor(Qt::black));
        QVERIFY(!model.index(1, column).data(Qt::ForegroundRole).isValid());
    }
}

void TestTrafficModel::keepsTheNewestRecordsWithinTheByteBound_data()
{
    QTest::addColumn<int>("recordBytes"); // each record's text; events have no frames
    QTest::addColumn<QList<int>>("batches");
    QTest::addColumn<int>("kept");

    // Bound 100 bytes throughout.
    QTest::newRow("below the bound") << 10 << QList<int>{3, 4} << 7;
    QTest::newRow("second batch crosses it") << 10 << QList<int>{6, 6} << 10;
    QTest::newRow("one batch beyond it") << 10 << QList<int>{25} << 10;
    QTest::newRow("many small batches") << 30 << QList<int>{1, 1, 1, 1, 1} << 3;
    QTest::newRow("a record beyond the bound stays alone") << 150 << QList<int>{2, 1} << 1;
}

void TestTrafficModel::keepsTheNewestRecordsWithinTheByteBound()
{
    QFETCH(int, recordBytes);
    QFETCH(QList<int>, batches);
    QFETCH(int, kept);
    TrafficModel model;
    model.setMaxBytes(100);
    QSignalSpy reset(&model, &TrafficModel::modelReset);

    int total = 0;
    for (const int size : batches) {
        std::vector<traffic::Record> batch;
        for (int i = total; i < total + size; ++i) {
            std::string text = std::to_string(i);
            text.resize(static_cast<std::size_t>(recordBytes), '.');
            batch.push_back(makeRecord(RecordKind::Event, {}, text));
        }
        model.append(std::move(batch));
        total += size;
    }

    QCOMPARE(model.rowCount(), kept);
    QCOMPARE(model.heldBytes(), static_cast<std::size_t>(kept * recordBytes));
    QCOMPARE(model.droppedCount(), static_cast<std::uint64_t>(total - kept));
    QVERIFY(model.record(0).text.starts_with(std::to_string(total - kept)));
    QCOMPARE(reset.count(), 0);
}

void TestTrafficModel::framesCountTowardTheByteBound()
{
    TrafficModel model;
    TrafficQueue queue;
    queue.setDelimiterMode(protocol::DelimiterMode::Demo);
    const traffic::Record frame = readRecord("[BA1x=ENT-a\r\n");
    appendRead(model, queue, {frame});
    const std::size_t size = frame.bytes.size() + frame.text.size() + model.frames(0).size();
    QVERIFY(model.frames(0).size() > frame.bytes.size());
    QCOMPARE(model.heldBytes(), size);

    // Room for two such records: a third drops the oldest.
    model.setMaxBytes(2 * size);
    appendRead(model, queue, {frame, frame});
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.droppedCount(), 1u);
    QCOMPARE(model.heldBytes(), 2 * size);
}

void TestTrafficModel::framesColumnShowsWhatEachRecordCompletes_data()
{
    QTest::addColumn<bool>("release");
    QTest::addColumn<QList<QByteArray>>("reads"); // each appended on its own
    QTest::addColumn<QStringList>("cells");

    QTest::newRow("DEMO, two frames in one read")
        << false << QList<QByteArray>{QByteArray("[BA1x=ENT-a\r\n\0[BA2y=SET-b\r\n\0", 28)}
        << QStringList{R"(media=B id=A1 data="x" command=ENT message="a" | )"
                       R"(media=B id=A2 data="y" command=SET message="b")"};
    QTest::newRow("RELEASE, one frame over two reads")
        << true << QList<QByteArray>{"\x07""BA1x", "\x08""ENT\x09""a\r\n"}
        << QStringList{"(unfinished: 5 bytes so far)",
                       R"((began earlier) media=B id=A1 data="x" command=ENT message="a")"};
}

void TestTrafficModel::framesColumnShowsWhatEachRecordCompletes()
{
    QFETCH(bool, release);
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QStringList, cells);
    TrafficModel model;
    TrafficQueue queue;
    queue.setDelimiterMode(release ? protocol::DelimiterMode::Release
                                   : protocol::DelimiterMode::Demo);
    for (const QByteArray& read : reads)
        appendRead(model, queue, {readRecord(read)});

    QCOMPARE(model.headerData(TrafficModel::FramesColumn, Qt::Horizontal).toString(),
             QStringLiteral("Frames"));
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex cell = model.index(row, TrafficModel::FramesColumn);
        QCOMPARE(cell.data().toString(), cells[row]);
        // The tool tip: one item a line.
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(),
                 cells[row].replace(QStringLiteral(" | "), QStringLiteral("\n")) + u'\n');
    }
}

QTEST_MAIN(TestTrafficModel)
#include "tst_trafficmodel.moc"
