// The console with its traffic recorded to files: the wire and the message
// view stay exactly as without recording, the files hold what went over the
// wire both ways, and the Traffic window's switch (remembered in its own
// settings section) turns the recording on and off.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "loopbacktcpserver.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficwindow.h"
#include "traffic/recordline.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using traffic::Record;
using traffic::RecordKind;

namespace
{

using consoledriver::kWait;
using consoledriver::kWaitMs;
using consoledriver::viewText;

// What one session gave: the bytes the peer received, the view's text at the
// end, and the records of the files (none when not recording).
struct Session {
    std::string wire;
    std::string view;
    std::vector<Record> records;
};

std::vector<Record> recordsIn(const QString& folder)
{
    std::vector<Record> records;
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        std::ifstream in(QDir(folder).filePath(name).toStdString());
        std::string line;
        while (std::getline(in, line)) {
            if (auto record = traffic::recordFromLine(line))
                records.push_back(*record);
        }
    }
    return records;
}

} // namespace

class TestConsoleRecording : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void recordingChangesNeitherWireNorView_data();
    void recordingChangesNeitherWireNorView();
    void rememberedSwitchRecordsFromTheStart_data();
    void rememberedSwitchRecordsFromTheStart();
    void windowSwitchTurnsRecordingOnAndOff();
    void windowFormatIsRememberedAndTheCommandLineWins();
    void tlsKeysChoiceIsRememberedAndTheCommandLineWins();
    void recordingAtStartShowsTheTrafficWindow_data();
    void recordingAtStartShowsTheTrafficWindow();

private:
    // Connects over TCP, sends the command frame, lets the peer answer with
    // `answer` and close, then disconnects.
    // The same peer serves both sessions, so the view's connect line (which
    // names the port) is the same too.
    void runSession(LoopbackTcpServer& peer, bool record, const std::string& answer,
                    Session& session);

    ConsoleTestEnvironment environment_;
};

void TestConsoleRecording::runSession(LoopbackTcpServer& peer, bool record,
                                      const std::string& answer, Session& session)
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    {
        ConsoleDialog dialog;
        if (record) {
            dialog.trafficRecording().setFileOptions({folder.path().toStdString()});
            dialog.trafficRecording().setRecordingEnabled(true);
        }
        QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
        consoledriver::clickConnect(dialog, peer.portText());
        QVERIFY(consoledriver::isConnectedState(dialog));
        QVERIFY(peer.accept(kWait));
        QTest::mouseClick(dialog.control(ConsoleTemplate::kSendThisData), Qt::LeftButton);
        QVERIFY(peer.receive(session.wire, kWait));
        QVERIFY(peer.send(answer));
        peer.closeConnection();
        QTRY_VERIFY_WITH_TIMEOUT(viewText(dialog).ends_with("Connection Abandonned\n"), kWaitMs);
        QTest::mouseClick(dialog.control(ConsoleTemplate::kDisconnect), Qt::LeftButton);
        session.view = viewText(dialog);
    }
    // The dialog is gone: its recorder has written everything.
    if (record)
        session.records = recordsIn(folder.path());
}

void TestConsoleRecording::recordingChangesNeitherWireNorView_data()
{
    QTest::addColumn<int>("release");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("DEMO, two frames and bytes behind a NUL")
        << 0 << QByteArray("[a=b-c\r\n[d=e-f\r\n\0hidden\x01\xff", 25);
    QTest::newRow("RELEASE, delimiters on the wire") << 1
                                                     << QByteArray("\x07"
                                                                   "BA1\x08"
                                                                   "ENT\x09"
                                                                   "Ok\r\n");
    QTest::newRow("no frame") << 0 << QByteArray("no delimiters\r\n");
}

void TestConsoleRecording::recordingChangesNeitherWireNorView()
{
    QFETCH(int, release);
    QFETCH(QByteArray, answer);
    const std::string answerBytes = answer.toStdString();

    LoopbackTcpServer peer;
    QVERIFY(peer.listening());
    ConsoleTestEnvironment::setValue("bRelease", release);
    Session plain;
    runSession(peer, false, answerBytes, plain);
    ConsoleTestEnvironment::setValue("bRelease", release);
    Session recorded;
    runSession(peer, true, answerBytes, recorded);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(QByteArray::fromStdString(recorded.wire), QByteArray::fromStdString(plain.wire));
    QCOMPARE(QByteArray::fromStdString(recorded.view), QByteArray::fromStdString(plain.view));

    std::vector<RecordKind> kinds;
    std::string written;
    std::string read;
    for (const Record& record : recorded.records) {
        kinds.push_back(record.kind);
        if (record.kind == RecordKind::Write)
            written += record.bytes;
        if (record.kind == RecordKind::Read)
            read += record.bytes;
    }
    QCOMPARE(written, recorded.wire);
    QCOMPARE(read, answerBytes);
    QVERIFY(kinds.size() >= 6);
    QCOMPARE(kinds.front(), RecordKind::ConnectAttempt);
    QCOMPARE(kinds[1], RecordKind::Connected);
    QCOMPARE(kinds[kinds.size() - 2], RecordKind::Event);
    QCOMPARE(kinds.back(), RecordKind::Disconnect);
}

void TestConsoleRecording::rememberedSwitchRecordsFromTheStart_data()
{
    QTest::addColumn<QVariant>("remembered");
    QTest::addColumn<bool>("recording");
    QTest::newRow("never set") << QVariant() << false;
    QTest::newRow("off") << QVariant(0) << false;
    QTest::newRow("on") << QVariant(1) << true;
}

void TestConsoleRecording::rememberedSwitchRecordsFromTheStart()
{
    QFETCH(QVariant, remembered);
    QFETCH(bool, recording);
    if (remembered.isValid())
        ConsoleTestEnvironment::settings()->setValue(QStringLiteral("Traffic/RecordToFile"),
                                                     remembered);
    ConsoleDialog dialog;
    QCOMPARE(dialog.trafficRecording().recordingEnabled(), recording);
    // Never a key of the dialog's own section.
    QVERIFY(!ConsoleTestEnvironment::value("RecordToFile").isValid());
}

void TestConsoleRecording::windowSwitchTurnsRecordingOnAndOff()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    LoopbackTcpServer peer;
    ConsoleDialog dialog;
    dialog.trafficRecording().setFileOptions({folder.path().toStdString()});
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    dialog.showTrafficWindow();
    app::TrafficWindow* window = dialog.trafficWindow();
    QVERIFY(window);
    auto* recordToFile = window->findChild<QCheckBox*>(QStringLiteral("recordToFile"));
    auto* status = window->findChild<QLabel*>(QStringLiteral("recordingStatus"));
    QVERIFY(recordToFile && status);
    QVERIFY(!dialog.trafficRecording().recordingEnabled());

    recordToFile->click();
    QVERIFY(dialog.trafficRecording().recordingEnabled());
    consoledriver::clickConnect(dialog, peer.portText());
    QVERIFY(consoledriver::isConnectedState(dialog));
    QVERIFY(peer.accept(kWait));
    QVERIFY(peer.send("[a=b-c\r\n"));
    // Connect, connected and the read reach the window; the status line says
    // where they are recorded.
    QTRY_VERIFY_WITH_TIMEOUT(window->model().rowCount() >= 3, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(
        status->text().startsWith(QStringLiteral("Recording to ") + folder.path()), kWaitMs);

    recordToFile->click();
    QVERIFY(!dialog.trafficRecording().recordingEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Not recording to a file."), kWaitMs);
    const std::vector<Record> records = recordsIn(folder.path());
    QVERIFY(records.size() >= 3);
    QCOMPARE(records.front().kind, RecordKind::ConnectAttempt);
}

void TestConsoleRecording::windowFormatIsRememberedAndTheCommandLineWins()
{
    using Format = traffic::FileRecorder::Format;
    QTemporaryDir folder;
    ConsoleDialog dialog;
    dialog.trafficRecording().setFileOptions({folder.path().toStdString()});
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    dialog.showTrafficWindow();
    auto* box = dialog.trafficWindow()->findChild<QComboBox*>(QStringLiteral("recordFormat"));
    QTest::keyClick(box, Qt::Key_Down); // pcapng, as the operator picks it
    const auto remembered = [] {
        return ConsoleTestEnvironment::settings()->value(QStringLiteral("Traffic/RecordFormat"));
    };
    QCOMPARE(remembered(), QStringLiteral("pcapng"));
    dialog.trafficWindow()->findChild<QCheckBox*>(QStringLiteral("recordToFile"))->click();
    LoopbackTcpServer peer;
    QVERIFY(consoledriver::connectToTcpPeer(dialog, peer));
    QTRY_COMPARE_WITH_TIMEOUT(
        QDir(folder.path()).entryList({QStringLiteral("*.pcapng")}, QDir::Files).size(), 1,
        kWaitMs);

    // --record-format: for this run, shown and fixed in the window.
    dialog.fixRecordFormat(Format::Text);
    QCOMPARE(dialog.trafficRecording().fileOptions().format, Format::Text);
    QVERIFY(!box->isEnabled() && box->currentText() == QStringLiteral("text"));
    QCOMPARE(remembered(), QStringLiteral("pcapng"));
    QCOMPARE(ConsoleDialog().trafficRecording().fileOptions().format, Format::Pcapng);
}

void TestConsoleRecording::tlsKeysChoiceIsRememberedAndTheCommandLineWins()
{
    const auto remembered = [] {
        return ConsoleTestEnvironment::settings()->value(QStringLiteral("Traffic/RecordTlsKeys"));
    };
    {
        ConsoleDialog dialog;
        QVERIFY(!dialog.trafficRecording().recordTlsKeys());
        QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
        dialog.showTrafficWindow();
        auto* box = dialog.trafficWindow()->findChild<QCheckBox*>(QStringLiteral("recordTlsKeys"));
        QVERIFY(box && !box->isChecked());
        box->click();
        QCOMPARE(remembered(), 1);
        QVERIFY(dialog.trafficRecording().recordTlsKeys());
        box->click();
        QCOMPARE(remembered(), 0);
        QVERIFY(!dialog.trafficRecording().recordTlsKeys());
    }
    // --record-tls-keys: for this run, shown and fixed in the window, not remembered.
    ConsoleDialog dialog;
    dialog.fixRecordTlsKeys(true);
    QVERIFY(dialog.trafficRecording().recordTlsKeys());
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    dialog.showTrafficWindow();
    auto* box = dialog.trafficWindow()->findChild<QCheckBox*>(QStringLiteral("recordTlsKeys"));
    QVERIFY(box->isChecked() && !box->isEnabled());
    QCOMPARE(remembered(), 0);
    QVERIFY(!ConsoleDialog().trafficRecording().recordTlsKeys());
}

void TestConsoleRecording::recordingAtStartShowsTheTrafficWindow_data()
{
    QTest::addColumn<int>("start"); // 0 off, 1 remembered switch, 2 as --record
    QTest::newRow("off") << 0;
    QTest::newRow("remembered") << 1;
    QTest::newRow("--record") << 2;
}

void TestConsoleRecording::recordingAtStartShowsTheTrafficWindow()
{
    QFETCH(int, start);
    QTemporaryDir folder;
    if (start == 1)
        ConsoleTestEnvironment::settings()->setValue(QStringLiteral("Traffic/RecordToFile"), 1);
    ConsoleDialog dialog;
    dialog.trafficRecording().setFileOptions({folder.path().toStdString()});
    dialog.trafficRecording().setRecordingEnabled(start != 0);
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(dialog.trafficWindow() && dialog.trafficWindow()->isVisible(), start != 0);
    if (start == 0)
        return;
    const QString status =
        dialog.trafficWindow()->findChild<QLabel*>(QStringLiteral("recordingStatus"))->text();
    QVERIFY2(status.startsWith(QStringLiteral("Recording to ") + folder.path()),
             qPrintable(status));
    // The console stays as it starts: active, the focus on Connect.
    QTRY_COMPARE(QApplication::activeWindow(), &dialog);
    QCOMPARE(dialog.focusWidget(), dialog.control(ConsoleTemplate::kConnect));
}

QTEST_MAIN(TestConsoleRecording)
#include "tst_consolerecording.moc"
