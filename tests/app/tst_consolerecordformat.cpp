// The record files' format chosen in the Traffic window (text or pcapng):
// remembered, used for the recording the window switches on, and overruled
// by the command line's --record-format, which the window shows. And a
// recording on from the start (remembered, or --record) shows its Traffic
// window beside the console at once, the console keeping the focus.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "loopbacktcpserver.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/traffic/trafficwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using Format = traffic::FileRecorder::Format;
using consoledriver::kWaitMs;

namespace
{

QComboBox* formatBox(const ConsoleDialog& dialog)
{
    return dialog.trafficWindow()->findChild<QComboBox*>(QStringLiteral("recordFormat"));
}

QString rememberedFormat()
{
    return ConsoleTestEnvironment::settings()->value(QStringLiteral("Traffic/RecordFormat")).toString();
}

// Records into `folder` from now on, in the format chosen so far.
void recordInto(ConsoleDialog& dialog, const QTemporaryDir& folder)
{
    traffic::FileRecorder::Options files = dialog.trafficRecording().fileOptions();
    files.folder = folder.path().toStdString();
    dialog.trafficRecording().setFileOptions(files);
}

// One TCP connection to a loopback peer and back.
bool connectOnce(ConsoleDialog& dialog)
{
    LoopbackTcpServer peer;
    if (!consoledriver::connectToTcpPeer(dialog, peer))
        return false;
    QTest::mouseClick(dialog.control(ConsoleTemplate::kDisconnect), Qt::LeftButton);
    return true;
}

QStringList filesIn(const QTemporaryDir& folder)
{
    return QDir(folder.path()).entryList(QDir::Files);
}

} // namespace

class TestConsoleRecordFormat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void windowChoiceIsRememberedAndRecords();
    void rememberedFormatRecordsFromTheStart();
    void commandLineFormatWins_data();
    void commandLineFormatWins();
    void recordingAtStartOpensTheTrafficWindow_data();
    void recordingAtStartOpensTheTrafficWindow();

private:
    ConsoleTestEnvironment environment_;
};

void TestConsoleRecordFormat::windowChoiceIsRememberedAndRecords()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    ConsoleDialog dialog;
    recordInto(dialog, folder);
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    dialog.showTrafficWindow();
    QComboBox* box = formatBox(dialog);
    QVERIFY(box && box->isEnabled());
    QCOMPARE(box->currentText(), QStringLiteral("text"));

    // As the operator picks it: the arrow key on the box.
    QTest::keyClick(box, Qt::Key_Down);
    QCOMPARE(box->currentText(), QStringLiteral("pcapng"));
    QCOMPARE(rememberedFormat(), QStringLiteral("pcapng"));
    QCOMPARE(dialog.trafficRecording().fileOptions().format, Format::Pcapng);
    QVERIFY(!dialog.trafficRecording().recordingEnabled());

    dialog.trafficWindow()->findChild<QCheckBox*>(QStringLiteral("recordToFile"))->click();
    QVERIFY(dialog.trafficRecording().recordingEnabled());
    QVERIFY(connectOnce(dialog));
    // The recorder's thread makes the file.
    QTRY_COMPARE_WITH_TIMEOUT(filesIn(folder).size(), 1, kWaitMs);
    QVERIFY2(filesIn(folder).front().endsWith(QStringLiteral(".pcapng")),
             qPrintable(filesIn(folder).front()));

    QTest::keyClick(box, Qt::Key_Up);
    QCOMPARE(rememberedFormat(), QStringLiteral("text"));
    QCOMPARE(dialog.trafficRecording().fileOptions().format, Format::Text);
}

void TestConsoleRecordFormat::rememberedFormatRecordsFromTheStart()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    ConsoleTestEnvironment::settings()->setValue(QStringLiteral("Traffic/RecordFormat"),
                                                 QStringLiteral("pcapng"));
    ConsoleTestEnvironment::settings()->setValue(QStringLiteral("Traffic/RecordToFile"), 1);
    ConsoleDialog dialog;
    QCOMPARE(dialog.trafficRecording().fileOptions().format, Format::Pcapng);
    recordInto(dialog, folder);
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QTRY_VERIFY(dialog.trafficWindow() && dialog.trafficWindow()->isVisible());
    QCOMPARE(formatBox(dialog)->currentText(), QStringLiteral("pcapng"));

    QVERIFY(connectOnce(dialog));
    // The recorder's thread makes the file.
    QTRY_COMPARE_WITH_TIMEOUT(filesIn(folder).size(), 1, kWaitMs);
    QVERIFY2(filesIn(folder).front().endsWith(QStringLiteral(".pcapng")),
             qPrintable(filesIn(folder).front()));
}

void TestConsoleRecordFormat::commandLineFormatWins_data()
{
    QTest::addColumn<QString>("remembered");
    QTest::addColumn<Format>("given");
    QTest::addColumn<bool>("windowFirst");

    QTest::newRow("pcapng remembered, text given") << "pcapng" << Format::Text << false;
    QTest::newRow("text remembered, pcapng given") << "text" << Format::Pcapng << false;
    QTest::newRow("window open before") << "text" << Format::Pcapng << true;
}

void TestConsoleRecordFormat::commandLineFormatWins()
{
    QFETCH(QString, remembered);
    QFETCH(Format, given);
    QFETCH(bool, windowFirst);
    ConsoleTestEnvironment::settings()->setValue(QStringLiteral("Traffic/RecordFormat"),
                                                 remembered);
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    if (windowFirst)
        dialog.showTrafficWindow();
    // As --record-format does it.
    dialog.fixRecordFormat(given);
    dialog.showTrafficWindow();

    QCOMPARE(dialog.trafficRecording().fileOptions().format, given);
    QComboBox* box = formatBox(dialog);
    QCOMPARE(box->currentText(), given == Format::Pcapng ? QStringLiteral("pcapng")
                                                         : QStringLiteral("text"));
    QVERIFY(!box->isEnabled());
    QVERIFY2(box->toolTip().contains(QStringLiteral("--record-format")),
             qPrintable(box->toolTip()));
    // For this run only.
    QCOMPARE(rememberedFormat(), remembered);
}

void TestConsoleRecordFormat::recordingAtStartOpensTheTrafficWindow_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("remembered switch") << "remembered";
    QTest::newRow("--record") << "command line";
    QTest::newRow("not recording") << "off";
}

void TestConsoleRecordFormat::recordingAtStartOpensTheTrafficWindow()
{
    QFETCH(QString, how);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    if (how == QStringLiteral("remembered"))
        ConsoleTestEnvironment::settings()->setValue(QStringLiteral("Traffic/RecordToFile"), 1);
    ConsoleDialog dialog;
    recordInto(dialog, folder);
    if (how == QStringLiteral("command line"))
        dialog.trafficRecording().setRecordingEnabled(true);
    const bool recording = how != QStringLiteral("off");
    QCOMPARE(dialog.trafficRecording().recordingEnabled(), recording);

    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QWidget* connect = dialog.control(ConsoleTemplate::kConnect);
    if (!recording) {
        QCoreApplication::sendPostedEvents();
        QVERIFY(!dialog.trafficWindow());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(dialog.trafficWindow() && dialog.trafficWindow()->isVisible(),
                             kWaitMs);
    app::TrafficWindow* window = dialog.trafficWindow();
    QVERIFY(window->findChild<QCheckBox*>(QStringLiteral("recordToFile"))->isChecked());
    const QString status = window->findChild<QLabel*>(QStringLiteral("recordingStatus"))->text();
    QVERIFY2(status.startsWith(QStringLiteral("Recording to ") + folder.path()),
             qPrintable(status));
    // The console is as it always starts: active, the focus on Connect.
    QTRY_COMPARE(QApplication::activeWindow(), &dialog);
    QCOMPARE(dialog.focusWidget(), connect);
}

QTEST_MAIN(TestConsoleRecordFormat)
#include "tst_consolerecordformat.moc"
