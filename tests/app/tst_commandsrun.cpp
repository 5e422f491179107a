// A Run in the Commands window against loopback peers: its report saved as
// devicecheck writes one device's (CSV, JUnit XML), and over UDP each
// datagram taken as one record, line end or not.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"

#include "app/commands/commandswindow.h"
#include "app/commands/runpanel.h"
#include "app/commands/runreportfile.h"
#include "app/console/consoledialog.h"
#include "check/csvreport.h"
#include "check/junitreport.h"
#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"

#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <memory>

using app::RunReportFile;
using namespace consoledriver;

class TestCommandsRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { dialog_.reset(); }
    void savesTheReportDevicecheckWrites_data();
    void savesTheReportDevicecheckWrites();
    void takesEachDatagramAsARecord();

private:
    // Opens a check file of `steps` in the Commands window.
    void openSteps(const char* steps);
    app::CommandsWindow& window() { return *dialog_->commandsWindow(); }

    ConsoleTestEnvironment environment_;
    QTemporaryDir data_;
    std::unique_ptr<app::ConsoleDialog> dialog_;
};

void TestCommandsRun::initTestCase()
{
    QVERIFY(environment_.setUp());
    QVERIFY(data_.isValid());
    QVERIFY(qputenv("XDG_DATA_HOME", data_.path().toLocal8Bit()));
}

void TestCommandsRun::init()
{
    dialog_ = std::make_unique<app::ConsoleDialog>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
}

void TestCommandsRun::openSteps(const char* steps)
{
    const QString path = data_.filePath(QStringLiteral("run.toml"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(steps);
    out.close();
    QVERIFY(window().openFile(path.toStdString()));
}

void TestCommandsRun::savesTheReportDevicecheckWrites_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("saved"); // the name once written
    QTest::addColumn<QStringList>("content");
    QTest::newRow("CSV, extension added")
        << RunReportFile::filters().at(1) << "run"
        << "run.csv"
        << QStringList{"device,name,outcome,step,step_name,", ",,failed,1,ack,1,1,passed,",
                       ",,failed,2,pong,1,1,failed,,no matching answer within 100 ms,"
                       "\"\"\"PING\"\"\"\r\n"};
    QTest::newRow("JUnit XML, extension kept")
        << RunReportFile::filters().at(0) << "run.junit"
        << "run.junit"
        << QStringList{
               "tests=\"1\" failures=\"1\" errors=\"0\"",
               "<failure type=\"pong\" message=\"pong: no matching answer within 100 ms\">"};
}

void TestCommandsRun::savesTheReportDevicecheckWrites()
{
    QFETCH(QString, filter);
    QFETCH(QString, name);
    QFETCH(QString, saved);
    QFETCH(QStringList, content);
    openSteps("[[step]]\nname = \"ack\"\nexpect = { command = \"ACK\", within = \"5s\" }\n"
              "[[step]]\nname = \"pong\"\nexpect = { text = \"PONG\", within = \"100ms\" }\n");
    app::RunPanel& runs = window().runs();
    const std::string path = data_.filePath(name).toStdString();
    QVERIFY(!runs.saveReport(path, filter));
    QCOMPARE(runs.statusText(), QStringLiteral("No report to save: nothing has run yet"));

    LoopbackTcpServer peer;
    QVERIFY(connectToTcpPeer(*dialog_, peer));
    emit runs.runRequested();
    QVERIFY(runs.running());
    const protocol::DelimiterMode mode = protocol::DelimiterSet::instance().mode();
    QVERIFY(peer.send(protocol::composeFrame({"B", "07", "", "ACK", ""}, mode) + "\r\nPING\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(!runs.running(), 5000);

    QVERIFY(runs.saveReport(path, filter));
    const QString file = data_.filePath(saved);
    QCOMPARE(runs.statusText(), QStringLiteral("Report saved as ") + file);
    struct stat info {
    };
    QCOMPARE(::stat(file.toLocal8Bit().constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const std::string written = in.readAll().toStdString();
    const auto report = runs.report();
    QVERIFY(report);
    QCOMPARE(written, RunReportFile::kindOf(filter) == RunReportFile::Kind::Csv
                          ? check::CsvReport::text(*report)
                          : check::JunitReport::text(*report));
    // The device as the console named it, the file as the window keeps it.
    const std::string device = "127.0.0.1:" + peer.portText();
    QVERIFY(written.find(device) != std::string::npos);
    for (const QString& part : content)
        QVERIFY2(written.find(part.toStdString()) != std::string::npos, qPrintable(part));
    const QString xmllint = QStandardPaths::findExecutable(QStringLiteral("xmllint"));
    if (!xmllint.isEmpty() && RunReportFile::kindOf(filter) == RunReportFile::Kind::Junit)
        QCOMPARE(QProcess::execute(xmllint, {QStringLiteral("--noout"), file}), 0);

    // A folder that is not there: nothing written, the reason shown.
    QVERIFY(!runs.saveReport(data_.filePath(QStringLiteral("none/run.csv")).toStdString(), filter));
    QVERIFY2(runs.statusText().startsWith(QStringLiteral("Report not saved: cannot")),
             qPrintable(runs.statusText()));
}

void TestCommandsRun::takesEachDatagramAsARecord()
{
    openSteps("[[step]]\nname = \"ack\"\nexpect = { command = \"ACK\", within = \"5s\" }\n"
              "[[step]]\nname = \"nak\"\nexpect = { command = \"NAK\", within = \"5s\" }\n");
    LoopbackUdpPeer peer;
    QVERIFY(peer.bound());
    QVERIFY(connectUdp(*dialog_, peer.portText()));
    QVERIFY(introduceToUdpPeer(*dialog_, peer));
    app::RunPanel& runs = window().runs();
    emit runs.runRequested();
    // Frames with no line end: only the datagram's end ends each.
    const protocol::DelimiterMode mode = protocol::DelimiterSet::instance().mode();
    QVERIFY(peer.sendToSender(protocol::composeFrame({"B", "07", "", "ACK", ""}, mode)));
    QVERIFY(peer.sendToSender(protocol::composeFrame({"B", "07", "", "NAK", ""}, mode)));
    QTRY_VERIFY_WITH_TIMEOUT(!runs.running(), 10000);
    QCOMPARE(runs.statusText(), QStringLiteral("Passed: 2 passed, 0 failed"));
}

QTEST_MAIN(TestCommandsRun)
#include "tst_commandsrun.moc"
