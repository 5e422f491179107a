// The review window of a record file: the records written by the console's
// file recorder, text or pcapng, whole or damaged, come back into the table;
// the status line tells the file, the count, the damage and what was left out;
// files that are no record are refused with a message.

#include "consoletestenvironment.h"
#include "messageboxwatcher.h"
#include "trafficrecords.h"

#include "app/traffic/recordreviewwindow.h"
#include "app/traffic/trafficfilter.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficqueue.h"

#include "traffic/filerecorder.h"
#include "traffic/recordfilereader.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include <sys/stat.h>

using app::RecordReviewWindow;
using traffic::FileRecorder;
using traffic::RecordKind;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(FileRecorder::Format)

namespace
{

constexpr int kReadTimeoutMs = 20000;

// A connection with `reads` reads, as the channel records it.
std::vector<traffic::Record> session(int reads)
{
    std::vector<traffic::Record> records{
        makeRecord(RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21210"),
        makeRecord(RecordKind::Connected, {}, "127.0.0.1:40000", 1us),
        makeRecord(RecordKind::Write, "[1AB=REQ-status]\r\n", "18 bytes written", 2us)};
    for (int i = 0; i < reads; ++i)
        records.push_back(readRecord(kControlBytes + QByteArray::number(i), 3us + i * 1ms));
    return records;
}

} // namespace

class TestRecordReview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsTheRecordsOfAFile_data();
    void showsTheRecordsOfAFile();
    void keepsTheNewestRecords();
    void openRefusesWhatIsNoRecord_data();
    void openRefusesWhatIsNoRecord();
    void openShowsAWindowDeletedOnClose();
    void liveWindowOpensARecord();

private:
    // The records written by the console's file recorder; returns the file.
    QString recorded(const std::vector<traffic::Record>& records, FileRecorder::Format format);

    ConsoleTestEnvironment environment_;
    QTemporaryDir files_;
    int folders_ = 0;
};

void TestRecordReview::initTestCase()
{
    QVERIFY(environment_.setUp());
    QVERIFY(files_.isValid());
}

QString TestRecordReview::recorded(const std::vector<traffic::Record>& records,
                                   FileRecorder::Format format)
{
    FileRecorder::Options options;
    options.folder = QFile::encodeName(files_.filePath(QString::number(++folders_))).toStdString();
    options.format = format;
    {
        FileRecorder recorder(options);
        for (const traffic::Record& record : records)
            recorder.record(record);
    }
    const QStringList found =
        QDir(QFile::decodeName(options.folder.c_str())).entryList(QDir::Files);
    return found.size() == 1 ? QDir(QFile::decodeName(options.folder.c_str())).filePath(found[0])
                             : QString();
}

void TestRecordReview::showsTheRecordsOfAFile_data()
{
    QTest::addColumn<FileRecorder::Format>("format");
    QTest::addColumn<QByteArray>("damage");
    QTest::addColumn<QString>("status");

    QTest::newRow("text") << FileRecorder::Format::Text << QByteArray()
                          << "(text): 8 records, nothing damaged.";
    QTest::newRow("pcapng") << FileRecorder::Format::Pcapng << QByteArray()
                            << "(pcapng): 8 records, nothing damaged.";
    QTest::newRow("text, garbage at the end")
        << FileRecorder::Format::Text << QByteArray("garbage\n\x01\x02\n")
        << "(text): 8 records, 2 damaged lines skipped.";
    QTest::newRow("pcapng, a block cut at the end")
        << FileRecorder::Format::Pcapng << QByteArray("\x06\0\0\0\x40\0\0\0\0\0\0\0\x12", 13)
        << "(pcapng): 8 records, 1 damaged blocks skipped.";
}

void TestRecordReview::showsTheRecordsOfAFile()
{
    QFETCH(FileRecorder::Format, format);
    QFETCH(QByteArray, damage);
    QFETCH(QString, status);

    const std::vector<traffic::Record> records = session(5);
    const QString path = recorded(records, format);
    QVERIFY(!path.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write(damage);
    file.close();

    RecordReviewWindow window(path);
    QSignalSpy finished(&window, &RecordReviewWindow::readFinished);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kReadTimeoutMs);
    QCOMPARE(finished.at(0).at(0).toBool(), true);

    app::TrafficModel& model = window.model();
    QCOMPARE(model.rowCount(), static_cast<int>(records.size()));
    for (int row = 0; row < model.rowCount(); ++row) {
        QCOMPARE(model.record(row).kind, records[static_cast<std::size_t>(row)].kind);
        QCOMPARE(model.record(row).time, records[static_cast<std::size_t>(row)].time);
        QCOMPARE(model.record(row).bytes, records[static_cast<std::size_t>(row)].bytes);
        QCOMPARE(model.record(row).text, records[static_cast<std::size_t>(row)].text);
    }
    // The frames are decoded as the live window decodes them (DEMO here).
    QVERIFY2(model.frames(2).find("command=REQ") != std::string_view::npos,
             std::string(model.frames(2)).c_str());
    const QString line = window.findChild<QLabel*>(QStringLiteral("recordingStatus"))->text();
    QVERIFY2(line == path + QLatin1Char(' ') + status, qPrintable(line));
    QVERIFY(window.findChild<QCheckBox*>(QStringLiteral("recordToFile"))->isHidden());

    // The filters and Save as… work on what was read, as in the live window.
    window.filter().setDirection(traffic::Direction::Sent);
    QCOMPARE(window.filter().rowCount(), 1);
    const QString saved = files_.filePath(QStringLiteral("sent.log"));
    QVERIFY(window.saveTo(saved, app::TrafficExport::Format::TextLog).ok());
    const auto again = traffic::RecordFileReader::readFile(QFile::encodeName(saved).toStdString());
    QVERIFY(again);
    QCOMPARE(again->records.size(), std::size_t{1});
    QCOMPARE(again->damaged, 0u); // the export's frames lines are comments
    QCOMPARE(again->records[0].bytes, records[2].bytes);
}

void TestRecordReview::keepsTheNewestRecords()
{
    const std::vector<traffic::Record> records = session(22);
    const QString path = recorded(records, FileRecorder::Format::Pcapng);
    RecordReviewWindow window(path, nullptr, {.maxRecords = 10});
    QSignalSpy finished(&window, &RecordReviewWindow::readFinished);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kReadTimeoutMs);

    QCOMPARE(window.model().rowCount(), 10);
    QCOMPARE(window.model().record(9).bytes, records.back().bytes);
    const QString line = window.findChild<QLabel*>(QStringLiteral("recordingStatus"))->text();
    QVERIFY2(line.endsWith(QStringLiteral(": 10 records, nothing damaged, 15 older records left "
                                          "out (the newest 10 are kept).")),
             qPrintable(line));
}

void TestRecordReview::openRefusesWhatIsNoRecord_data()
{
    QTest::addColumn<QByteArray>("content"); // "fifo", "empty", or none: no file at all
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << QByteArray() << "No such file or directory";
    QTest::newRow("no record") << QByteArray("[Params]\nSocketIp=127.0.0.1\n")
                               << "not a traffic record";
    // Regressions: a FIFO froze the console in its open; an empty file
    // opened as a record of nothing.
    QTest::newRow("fifo freezes the console") << QByteArray("fifo") << "it is a FIFO";
    QTest::newRow("empty file opens") << QByteArray("empty") << "the file is empty";
}

void TestRecordReview::openRefusesWhatIsNoRecord()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);

    const QString path = files_.filePath(QString::fromLatin1(QTest::currentDataTag()));
    if (content == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (content != "empty")
            file.write(content);
    }
    MessageBoxWatcher boxes;
    QElapsedTimer returned;
    returned.start();
    QPointer<RecordReviewWindow> window = RecordReviewWindow::open(path, nullptr);
    QVERIFY(returned.elapsed() < kReadTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.texts().size(), 1, kReadTimeoutMs);
    QTRY_VERIFY(window.isNull());
    QVERIFY2(boxes.texts()[0].contains(path) && boxes.texts()[0].contains(reason),
             qPrintable(boxes.texts()[0]));
}

void TestRecordReview::openShowsAWindowDeletedOnClose()
{
    const QString path = recorded(session(1), FileRecorder::Format::Text);
    QPointer<RecordReviewWindow> window = RecordReviewWindow::open(path, nullptr);
    QVERIFY(window);
    QSignalSpy finished(window.data(), &RecordReviewWindow::readFinished);
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), kReadTimeoutMs);
    QVERIFY(window->findChild<QPushButton*>(QStringLiteral("trafficOpenRecord")));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kReadTimeoutMs);
    QCOMPARE(window->model().rowCount(), 4);
    window->close();
    QTRY_VERIFY(window.isNull());
    // A window of records read back leaves the live window's place alone.
    QVERIFY(!ConsoleTestEnvironment::settings()->contains(QStringLiteral("Traffic/Geometry")));
}

void TestRecordReview::liveWindowOpensARecord()
{
    const QString path = recorded(session(2), FileRecorder::Format::Pcapng);
    app::TrafficQueue queue;
    app::TrafficWindow live(queue);
    live.show();
    // The file dialog runs its own loop: it is answered once it shows.
    QTimer::singleShot(0, &live, [path] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it
    });
    live.findChild<QPushButton*>(QStringLiteral("trafficOpenRecord"))->click();
    auto* review = live.findChild<RecordReviewWindow*>();
    QVERIFY(review);
    QTRY_COMPARE_WITH_TIMEOUT(review->model().rowCount(), 5, kReadTimeoutMs);
    QVERIFY(review->isVisible());
    QCOMPARE(live.model().rowCount(), 0);
}

QTEST_MAIN(TestRecordReview)
#include "tst_recordreview.moc"
