// The Traffic window: records from the queue reach the table in batches,
// the detail dump, following the newest row, copy, save as text log and CSV,
// clear, and the remembered "Record to file" switch.

#include "consoletestenvironment.h"
#include "trafficrecords.h"

#include "app/traffic/trafficfilter.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficqueue.h"
#include "app/traffic/trafficwindow.h"

#include "traffic/recordline.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>

using app::TrafficExport;
using app::TrafficModel;
using app::TrafficQueue;
using app::TrafficWindow;
using traffic::RecordKind;
using namespace std::chrono_literals;

namespace
{

template <typename T> T* part(const TrafficWindow& window, const char* name)
{
    return window.findChild<T*>(QLatin1String(name));
}

// Splits RFC 4180 CSV into rows of fields.
QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                field += text.at(++i);
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row += field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() &&
                   text.at(i + 1) == QLatin1Char('\n')) {
            row += field;
            rows += row;
            row.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

QByteArray fromHexField(const QString& hex)
{
    return QByteArray::fromHex(hex.toLatin1());
}

} // namespace

class TestTrafficWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void takesWhatTheQueueHoldsInOneBatch();
    void countsWhatWasDroppedFromMemory();
    void followsTheNewestRowUnlessTurnedOff();
    void detailShowsTheSelectedRecordsDump_data();
    void detailShowsTheSelectedRecordsDump();
    void filterControlsNarrowTheTable();
    void copiesTheSelectedRowsTabSeparated();
    void savesCsvThatGivesTheBytesBack();
    void savesARecordFileOwnerOnly();
    void saveToAnUnwritableFolderFails();
    void exportsKeepFormulaeAndHexAsText_data();
    void exportsKeepFormulaeAndHexAsText();
    void saveRefusesALinkAndLeavesItsTarget_data();
    void saveRefusesALinkAndLeavesItsTarget();
    void clearEmptiesTableAndDetail();
    void recordToFileIsRememberedInItsOwnSection();

private:
    ConsoleTestEnvironment environment_;
    std::unique_ptr<TrafficQueue> queue_;
    std::unique_ptr<TrafficWindow> window_;
    QTemporaryDir files_;
};

void TestTrafficWindow::initTestCase()
{
    QVERIFY(environment_.setUp());
    QVERIFY(files_.isValid());
}

void TestTrafficWindow::init()
{
    queue_ = std::make_unique<TrafficQueue>();
    window_ = std::make_unique<TrafficWindow>(*queue_);
    window_->resize(800, 400);
}

void TestTrafficWindow::cleanup()
{
    window_.reset();
    queue_.reset();
    ConsoleTestEnvironment::clearSettings();
    QApplication::clipboard()->clear();
}

void TestTrafficWindow::takesWhatTheQueueHoldsInOneBatch()
{
    QSignalSpy inserted(&window_->model(), &TrafficModel::rowsInserted);
    for (int i = 0; i < 1000; ++i)
        queue_->record(readRecord(QByteArray::number(i)));

    // The timer takes them; nothing is asked of the test but to wait.
    QTRY_COMPARE_WITH_TIMEOUT(window_->model().rowCount(), 1000, 5000);
    QCOMPARE(inserted.count(), 1);
    QVERIFY(part<QLabel>(*window_, "recordCount")->text().startsWith(QStringLiteral("1")));
}

void TestTrafficWindow::countsWhatWasDroppedFromMemory()
{
    TrafficQueue queue(20);
    TrafficWindow small(queue, nullptr, 10);
    for (int i = 0; i < 30; ++i) // 10 dropped by the queue, 10 more by the table
        queue.record(readRecord(QByteArray::number(i)));
    small.drain();

    QCOMPARE(small.model().rowCount(), 10);
    QCOMPARE(small.model().droppedCount(), 20u);
    QCOMPARE(QString::fromStdString(small.model().record(0).bytes), QStringLiteral("20"));
    const QString counts = part<QLabel>(small, "recordCount")->text();
    QVERIFY2(counts.contains(QStringLiteral("10 records")) &&
                 counts.contains(QStringLiteral("20 older dropped")),
             qPrintable(counts));
}

void TestTrafficWindow::followsTheNewestRowUnlessTurnedOff()
{
    QVERIFY(ConsoleTestEnvironment::showActive(window_.get()));
    auto* table = part<QTableView>(*window_, "trafficTable");
    QScrollBar* bar = table->verticalScrollBar();
    QVERIFY(part<QCheckBox>(*window_, "followNewest")->isChecked());

    for (int i = 0; i < 500; ++i)
        queue_->record(readRecord(QByteArray::number(i)));
    QTRY_COMPARE_WITH_TIMEOUT(window_->model().rowCount(), 500, 5000);
    QVERIFY(bar->maximum() > 0);
    QTRY_COMPARE(bar->value(), bar->maximum());

    // Scrolling up by hand stops following.
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    QVERIFY(!part<QCheckBox>(*window_, "followNewest")->isChecked());
    for (int i = 0; i < 100; ++i)
        queue_->record(readRecord(QByteArray::number(i)));
    window_->drain();
    QCOMPARE(window_->model().rowCount(), 600);
    QCOMPARE(bar->value(), 0);

    part<QCheckBox>(*window_, "followNewest")->setChecked(true);
    QTRY_COMPARE(bar->value(), bar->maximum());
}

void TestTrafficWindow::detailShowsTheSelectedRecordsDump_data()
{
    QTest::addColumn<traffic::Record>("record");
    QTest::addColumn<QString>("detail");

    const QString when = QDateTime::fromMSecsSinceEpoch(1796648527513)
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                         QStringLiteral(".513042");
    QByteArray frame("\x07"
                     "BA139123439\x08"
                     "ENT\x09"
                     "Hi\r\n",
                     22);
    frame.append('\0');
    QTest::newRow("control bytes") << readRecord(kControlBytes)
                                   << when + QStringLiteral("  received  read  9 bytes\n"
                                                            "frame check: passed\n"
                                                            "(began earlier) not a frame: "
                                                            "\"beforeA\"\n"
                                                            "not a frame: \"\\x07\\x08\\x09\"\n"
                                                            "(unfinished: 2 bytes so far)\n\n"
                                                            "00000000  41 00 07 08 09 0d 0a 7f  e9"
                                                            "                       |A........|\n");
    QTest::newRow("a RELEASE frame over two lines")
        << makeRecord(RecordKind::Write, frame, "23 bytes written")
        << when + QStringLiteral("  sent  write  23 bytes\n"
                                 "23 bytes written\n"
                                 "(RELEASE frame) media=B id=A1 data=\"39123439\" "
                                 "command=ENT message=\"Hi\"\n\n"
                                 "00000000  07 42 41 31 33 39 31 32  33 34 33 39 08 45 4e 54  "
                                 "|.BA139123439.ENT|\n"
                                 "00000010  09 48 69 0d 0a 00 00"
                                 "                              |.Hi....|\n");
    QTest::newRow("an event")
        << makeRecord(RecordKind::ConnectFailed, {}, "Connection refused after 0.3 ms")
        << when + QStringLiteral("  event  connect-failed\nConnection refused after 0.3 ms\n");
}

void TestTrafficWindow::detailShowsTheSelectedRecordsDump()
{
    QFETCH(traffic::Record, record);
    QFETCH(QString, detail);
    queue_->record(readRecord("before"));
    queue_->record(record);
    window_->drain();

    auto* table = part<QTableView>(*window_, "trafficTable");
    table->setCurrentIndex(table->model()->index(1, 0));
    QCOMPARE(part<QPlainTextEdit>(*window_, "trafficDetail")->toPlainText(), detail);
}

void TestTrafficWindow::filterControlsNarrowTheTable()
{
    queue_->record(makeRecord(RecordKind::Write, "PING\r\n"));
    queue_->record(readRecord("PONG\r\n"));
    queue_->record(makeRecord(RecordKind::Disconnect, {}, "closed"));
    window_->drain();
    auto* table = part<QTableView>(*window_, "trafficTable");

    part<QComboBox>(*window_, "trafficDirection")->setCurrentIndex(2); // Received
    QCOMPARE(table->model()->rowCount(), 1);
    part<QComboBox>(*window_, "trafficDirection")->setCurrentIndex(0);
    QTest::keyClicks(part<QLineEdit>(*window_, "trafficFilterText"), QStringLiteral("0d 0a"));
    QCOMPARE(table->model()->rowCount(), 2);
    QCOMPARE(part<QLabel>(*window_, "recordCount")->text(), QStringLiteral("3 records (2 shown)"));
    part<QLineEdit>(*window_, "trafficFilterText")->clear();
    QCOMPARE(table->model()->rowCount(), 3);
}

void TestTrafficWindow::copiesTheSelectedRowsTabSeparated()
{
    QVERIFY(ConsoleTestEnvironment::showActive(window_.get()));
    queue_->record(makeRecord(RecordKind::Write, QByteArray("AB\r\n\0", 5), "5 bytes written"));
    queue_->record(readRecord("skipped"));
    queue_->record(makeRecord(RecordKind::Event, {}, "connection dropped\tby peer"));
    window_->drain();
    auto* table = part<QTableView>(*window_, "trafficTable");
    table->selectRow(2);
    table->selectionModel()->select(table->model()->index(0, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table->setFocus();

    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);

    const QString when = QDateTime::fromMSecsSinceEpoch(1796648527513)
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                         QStringLiteral(".513042");
    QCOMPARE(QApplication::clipboard()->text(),
             when + QStringLiteral("\tsent\t5\tAB\\r\\n\\0\t41 42 0d 0a 00\tnot a frame: \"AB\"\n") +
                 when + QStringLiteral("\tevent\t\tevent\tconnection dropped by peer\t\n"));
}

void TestTrafficWindow::savesCsvThatGivesTheBytesBack()
{
    QByteArray every(256, '\0');
    for (int i = 0; i < 256; ++i)
        every[i] = static_cast<char>(i);
    const QList<traffic::Record> records{
        readRecord(every),
        makeRecord(RecordKind::Write, "with, comma and \"quotes\"", "24 bytes written", 1us),
        makeRecord(RecordKind::ConnectFailed, {}, "No route to host, after 3 s", 1000001us),
        makeRecord(RecordKind::Write, "[BA1x=ENT-a\r\n[BA2y=SET-b\r\n", "26 bytes written", 1000002us)};
    for (const traffic::Record& record : records)
        queue_->record(record);
    window_->drain();
    const QString path = files_.filePath(QStringLiteral("traffic.csv"));

    const base::Result<QString> saved = window_->saveTo(path, TrafficExport::Format::Csv);
    QVERIFY2(saved.ok(), saved.error().text().c_str());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QStringList> rows = parseCsv(QString::fromUtf8(file.readAll()));
    QCOMPARE(rows.size(), records.size() + 1);
    QCOMPARE(rows[0], (QStringList{"time", "direction", "kind", "length", "bytes", "hex", "note",
                                   "frames"}));
    const QStringList times{"2026-12-07T13:02:07.513042Z", "2026-12-07T13:02:07.513043Z",
                            "2026-12-07T13:02:08.513043Z", "2026-12-07T13:02:08.513044Z"};
    const QStringList frames{
        QString(), "(unfinished: 24 bytes so far)", QString(),
        R"((began earlier) not a frame: "with, comma and \"quotes\"[BA1x=ENT-a" | )"
        R"(media=B id=A2 data="y" command=SET message="b")"};
    for (qsizetype i = 0; i < records.size(); ++i) {
        const QStringList& row = rows[i + 1];
        const traffic::Record& record = records[i];
        QCOMPARE(row.size(), 8);
        QCOMPARE(row[0], times[i]);
        QCOMPARE(row[1], window_->model().index(int(i), TrafficModel::DirectionColumn).data());
        QCOMPARE(row[3].toULongLong(), static_cast<qulonglong>(record.bytes.size()));
        QCOMPARE(fromHexField(row[5]).toStdString(), record.bytes);
        QCOMPARE(row[6].toStdString(), record.text);
        if (i != 0) // the first read's many bytes that are no frame: not restated here
            QCOMPARE(row[7], frames[i]);
        if (!record.bytes.empty())
            QCOMPARE(row[4], window_->model().index(int(i), TrafficModel::TextColumn).data());
    }
}

void TestTrafficWindow::savesARecordFileOwnerOnly()
{
    const QList<traffic::Record> records{
        makeRecord(RecordKind::Write, QByteArray("A\0B\r\n\t\\", 7), "7 bytes written"),
        readRecord("skipped", 5us),
        makeRecord(RecordKind::Disconnect, {}, "closed by the operator", 9us)};
    for (const traffic::Record& record : records)
        queue_->record(record);
    window_->drain();
    // In the frames of the write and of the disconnect, which ends both streams.
    window_->filter().setText(QStringLiteral("not a frame"));
    const QString path = files_.filePath(QStringLiteral("traffic.log"));
    QFile::remove(path);

    QVERIFY(window_->saveTo(path, TrafficExport::Format::TextLog).ok());

    QFile file(path);
    QCOMPARE(file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    // The header comment, the two rows the filter shows each followed by its
    // frames, the end of the last line.
    QCOMPARE(lines.size(), 6);
    QVERIFY(lines[0].startsWith('#'));
    QVERIFY(lines[5].isEmpty());
    for (const int i : {0, 2}) {
        const QByteArray& line = lines[i == 0 ? 1 : 3]; // records 0 and 2 on lines 1 and 3
        const std::optional<traffic::Record> back =
            traffic::recordFromLine(std::string_view(line.constData(), line.size()));
        QVERIFY2(back, line.constData());
        QCOMPARE(back->time, records[i].time);
        QCOMPARE(back->kind, records[i].kind);
        QCOMPARE(back->bytes, records[i].bytes);
        QCOMPARE(back->text, records[i].text);
    }
    // Frames as comments, which record readers pass over.
    QCOMPARE(lines[2], QByteArray("# frames\t") + R"(not a frame: "A" | not a frame: "B" | )"
                                                  R"((unfinished: 2 bytes so far))");
    QCOMPARE(lines[4], QByteArray("# frames\t") + R"(sent, unfinished: not a frame: "\x09\\" | )"
                                                  R"(received, unfinished: not a frame: "skipped")");
    QVERIFY(!traffic::recordFromLine(lines[2].toStdString()));
}

void TestTrafficWindow::saveToAnUnwritableFolderFails()
{
    queue_->record(readRecord("x"));
    window_->drain();
    const base::Result<QString> saved = window_->saveTo(
        files_.filePath(QStringLiteral("absent/traffic.csv")), TrafficExport::Format::Csv);
    QVERIFY(!saved.ok());
    QVERIFY(!saved.error().text().empty());
}

// Regression: a device's bytes or a note starting with "=" became a formula
// in a spreadsheet, and hex such as 1e10 became a number.
void TestTrafficWindow::exportsKeepFormulaeAndHexAsText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("textField");
    QTest::addColumn<QString>("hexField");
    QTest::addColumn<QString>("noteField");
    QTest::newRow("formula") << QByteArray("=HYPERLINK(\"x\")") << "frame ok"
                             << "'=HYPERLINK(\"x\")"
                             << "'3d48595045524c494e4b2822782229"
                             << "frame ok";
    QTest::newRow("plus") << QByteArray("+1") << "+cmd"
                          << "'+1"
                          << "'2b31"
                          << "'+cmd";
    QTest::newRow("minus") << QByteArray("-2+3") << "-"
                           << "'-2+3"
                           << "'2d322b33"
                           << "'-";
    QTest::newRow("at") << QByteArray("@SUM") << "@x"
                        << "'@SUM"
                        << "'4053554d"
                        << "'@x";
    // One CSV dialect with the reports: a control character is written
    // escaped, so a cell cannot start a formula behind it.
    QTest::newRow("tab note") << QByteArray("a") << "\t=1"
                              << "a"
                              << "'61"
                              << "\\x09=1";
    QTest::newRow("hex like a number") << QByteArray("\x1e\x10", 2) << "ok"
                                       << "\\x1e\\x10"
                                       << "'1e10"
                                       << "ok";
    QTest::newRow("plain") << QByteArray("ENT") << "frame ok"
                           << "ENT"
                           << "'454e54"
                           << "frame ok";
}

void TestTrafficWindow::exportsKeepFormulaeAndHexAsText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, note);
    QFETCH(QString, hexField);
    QFETCH(QString, textField);
    QFETCH(QString, noteField);
    const traffic::Record record = makeRecord(RecordKind::Read, bytes, note.toStdString());
    const QList<QStringList> rows = parseCsv(TrafficExport::csvLine(record));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][4], textField);
    QCOMPARE(rows[0][5], hexField);
    QCOMPARE(rows[0][6], noteField);
    const QStringList copied = TrafficExport::copyText({&record}).chopped(1).split('\t');
    QCOMPARE(copied.value(3), textField);
    const traffic::Record event = makeRecord(RecordKind::Event, {}, note.toStdString());
    const QString shownNote = TrafficExport::copyText({&event}).chopped(1).section('\t', 4);
    QVERIFY2(!shownNote.startsWith('=') && !shownNote.startsWith('+') &&
                 !shownNote.startsWith('-') && !shownNote.startsWith('@'),
             qPrintable(shownNote));
}

// Regression: "Save as…" onto a link replaced the file it points to, and
// made the missing target of a dangling one.
void TestTrafficWindow::saveRefusesALinkAndLeavesItsTarget_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("link to a file") << true;
    QTest::newRow("dangling link") << false;
}

void TestTrafficWindow::saveRefusesALinkAndLeavesItsTarget()
{
    QFETCH(bool, targetExists);
    queue_->record(readRecord("x"));
    window_->drain();
    const QString target = files_.filePath(QStringLiteral("target.txt"));
    const QString link = files_.filePath(QStringLiteral("link.csv"));
    QFile::remove(target);
    QFile::remove(link);
    if (targetExists) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    QVERIFY(QFile::link(target, link));

    const base::Result<QString> saved = window_->saveTo(link, TrafficExport::Format::Csv);
    QVERIFY(!saved.ok());
    QVERIFY(QString::fromStdString(saved.error().text()).contains(QLatin1String("link")));
    QCOMPARE(QFileInfo(link).isSymLink(), true);
    QCOMPARE(QFileInfo::exists(target), targetExists);
    if (targetExists) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
    }
    QCOMPARE(QDir(files_.path()).entryList(QDir::Hidden | QDir::Files).filter(".link").size(), 0);
}

void TestTrafficWindow::clearEmptiesTableAndDetail()
{
    queue_->record(readRecord("x"));
    window_->drain();
    auto* table = part<QTableView>(*window_, "trafficTable");
    table->setCurrentIndex(table->model()->index(0, 0));
    QVERIFY(!part<QPlainTextEdit>(*window_, "trafficDetail")->toPlainText().isEmpty());

    QTest::mouseClick(part<QPushButton>(*window_, "trafficClear"), Qt::LeftButton);
    QCOMPARE(table->model()->rowCount(), 0);
    QVERIFY(part<QPlainTextEdit>(*window_, "trafficDetail")->toPlainText().isEmpty());
}

void TestTrafficWindow::recordToFileIsRememberedInItsOwnSection()
{
    auto* box = part<QCheckBox>(*window_, "recordToFile");
    QVERIFY(!box->isChecked()); // off until the operator asks
    QSignalSpy changed(window_.get(), &TrafficWindow::recordToFileChanged);

    // A recording switched on elsewhere shows, and is neither remembered nor
    // announced back.
    window_->showRecordToFile(true);
    QVERIFY(box->isChecked());
    QCOMPARE(changed.count(), 0);
    QVERIFY(!ConsoleTestEnvironment::settings()->contains(QStringLiteral("Traffic/RecordToFile")));
    window_->showRecordToFile(false);

    box->click();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), true);
    auto settings = ConsoleTestEnvironment::settings();
    QCOMPARE(settings->value(QStringLiteral("Traffic/RecordToFile")).toInt(), 1);
    settings->beginGroup(QStringLiteral("Params"));
    QVERIFY(settings->allKeys().isEmpty());
    settings->endGroup();

    TrafficQueue queue;
    TrafficWindow next(queue);
    QVERIFY(part<QCheckBox>(next, "recordToFile")->isChecked());
    part<QCheckBox>(next, "recordToFile")->click();
    QCOMPARE(
        ConsoleTestEnvironment::settings()->value(QStringLiteral("Traffic/RecordToFile")).toInt(),
        0);
}

QTEST_MAIN(TestTrafficWindow)
#include "tst_trafficwindow.moc"
