// The Commands window's actions over a real console and loopback peers: Enter
// and a double-click send a row's exact bytes; the window comes back where it
// was closed; the repeat's "not sent" follows what it left queued; a Run's
// report is the file devicecheck writes for one device; over UDP each
// datagram is one record, line end or not.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"

#include "app/commands/answerpanel.h"
#include "app/commands/commandrepeat.h"
#include "app/commands/commandswindow.h"
#include "app/commands/runpanel.h"
#include "app/commands/runreportfile.h"
#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "check/csvreport.h"
#include "check/junitreport.h"
#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"

#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>

#include <memory>

using app::ConsoleTemplate;
using app::RunReportFile;
using namespace consoledriver;

namespace
{

// A socket that holds few bytes, as on a real network link, so that sends to
// a peer that never reads wait in the send queue.
class SmallBufferConsole : public app::ConsoleDialog
{
protected:
    bool startWatcher() override
    {
        const int bytes = 16384;
        return ::setsockopt(channel().socketHandle(), SOL_SOCKET, SO_SNDBUF, &bytes,
                            sizeof bytes) == 0 &&
               ConsoleDialog::startWatcher();
    }
};

std::string frame(const char* command)
{
    return protocol::composeFrame({"B", "07", "", command, ""},
                                  protocol::DelimiterSet::instance().mode());
}

} // namespace

class TestCommandsActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void sendsTheChosenRow_data();
    void sendsTheChosenRow();
    void comesBackWhereItWasClosed();
    void notSentFollowsTheQueueAfterTheRepeat();
    void savesTheReportDevicecheckWrites_data();
    void savesTheReportDevicecheckWrites();
    void takesEachDatagramAsARecord();
    void answersFollowWhatTheyAnswerInTheView();

private:
    // A frame command, or free text when `command` is empty.
    void addCommand(const char* command, const std::string& text);
    void openSteps(const char* steps);
    void clickRun();
    app::CommandsWindow& window() { return *dialog_->commandsWindow(); }

    ConsoleTestEnvironment environment_;
    QTemporaryDir data_;
    std::unique_ptr<app::ConsoleDialog> dialog_;
};

void TestCommandsActions::initTestCase()
{
    QVERIFY(environment_.setUp());
    QVERIFY(data_.isValid());
    QVERIFY(qputenv("XDG_DATA_HOME", data_.path().toLocal8Bit()));
}

void TestCommandsActions::init()
{
    QFile::remove(QString::fromStdString(app::CommandsWindow::defaultPath()));
    dialog_ = std::make_unique<app::ConsoleDialog>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
}

void TestCommandsActions::cleanup()
{
    dialog_.reset();
    ConsoleTestEnvironment::clearSettings();
}

void TestCommandsActions::addCommand(const char* command, const std::string& text)
{
    comboOf(*dialog_, ConsoleTemplate::kMedia)->setEditText(QStringLiteral("C"));
    comboOf(*dialog_, ConsoleTemplate::kDeviceId)->setEditText(QStringLiteral("01"));
    comboOf(*dialog_, ConsoleTemplate::kCommand)->setEditText(QString::fromLatin1(command));
    editOf(*dialog_, ConsoleTemplate::kFreeTextEdit)->setText(QString::fromStdString(text));
    QVERIFY(window().addFromConsole());
}

void TestCommandsActions::openSteps(const char* steps)
{
    const QString path = data_.filePath(QStringLiteral("run.toml"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(steps);
    out.close();
    QVERIFY(window().openFile(path.toStdString()));
}

void TestCommandsActions::clickRun()
{
    for (QPushButton* button : window().runs().findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Run"))
            button->click();
    }
}

void TestCommandsActions::sendsTheChosenRow_data()
{
    QTest::addColumn<int>("key"); // 0: a double-click
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("double-click") << 0;
}

void TestCommandsActions::sendsTheChosenRow()
{
    QFETCH(int, key);
    addCommand("OPN", "");
    addCommand("", "second command");
    LoopbackTcpServer peer;
    QVERIFY(connectToTcpPeer(*dialog_, peer));
    window().showBeside(dialog_.get());
    QListWidget* rows = window().listView();
    rows->setCurrentRow(1);
    const QPoint at = rows->visualItemRect(rows->item(1)).center();
    if (key != 0) {
        QTest::keyClick(rows, Qt::Key(key));
    } else { // as a user's: a click, then the double-click
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(rows->viewport(), Qt::LeftButton, {}, at);
    }
    std::string block;
    QVERIFY(peer.receive(block, std::chrono::seconds(5)));
    QCOMPARE(block, protocol::wireBlock("second command"));
    QVERIFY(!peer.receive(block, std::chrono::milliseconds(200)));
}

void TestCommandsActions::comesBackWhereItWasClosed()
{
    window().showBeside(dialog_.get());
    const QRect chosen(40, 60, 600, 450);
    window().setGeometry(chosen);
    QTRY_COMPARE(window().geometry(), chosen);
    window().close();
    dialog_ = std::make_unique<app::ConsoleDialog>(); // the same settings folder
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
    window().showBeside(dialog_.get());
    QCOMPARE(window().geometry(), chosen);
}

void TestCommandsActions::notSentFollowsTheQueueAfterTheRepeat()
{
    dialog_ = std::make_unique<SmallBufferConsole>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
    addCommand("", std::string(protocol::kFreeTextMaxLength, 'x'));   // whole 2 KB blocks
    LoopbackTcpServer peer(LoopbackTcpServer::kDefaultBacklog, 4096); // never reads
    QVERIFY(connectToTcpPeer(*dialog_, peer));
    QVERIFY(window().startRepeat(0, 1, 200));
    QTRY_VERIFY_WITH_TIMEOUT(!window().repeat().running(), 10000);
    QVERIFY2(!window().repeatText().endsWith(QStringLiteral("waiting: 0")),
             qPrintable(window().repeatText()));
    // What waited is dropped when the connection ends; the line follows.
    click(*dialog_, ConsoleTemplate::kDisconnect);
    QTRY_VERIFY_WITH_TIMEOUT(window().repeatText().endsWith(QStringLiteral("waiting: 0")), 10000);
    QVERIFY2(!window().repeatText().contains(QStringLiteral("not sent: 0,")),
             qPrintable(window().repeatText()));
}

void TestCommandsActions::savesTheReportDevicecheckWrites_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("saved"); // the name once written
    QTest::addColumn<QStringList>("content");
    QTest::newRow("CSV, extension added")
        << RunReportFile::filters().at(1) << "run"
        << "run.csv"
        << QStringList{",,failed,1,ack,1,1,passed,",
                       ",,failed,2,pong,1,1,failed,,no matching answer within 100 ms,"
                       "\"\"\"PING\"\"\"\r\n"};
    // A typed .csv was written as JUnit when the type box said JUnit.
    QTest::newRow("CSV by its typed extension")
        << RunReportFile::filters().at(0) << "typed.csv"
        << "typed.csv" << QStringList{",,failed,1,ack,1,1,passed,"};
    QTest::newRow("JUnit XML, extension kept")
        << RunReportFile::filters().at(0) << "run.junit"
        << "run.junit"
        << QStringList{
               "tests=\"1\" failures=\"1\" errors=\"0\"",
               "<failure type=\"pong\" message=\"pong: no matching answer within 100 ms\">"};
}

void TestCommandsActions::savesTheReportDevicecheckWrites()
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
    clickRun();
    QVERIFY(runs.running());
    // While it runs: what has ended, the device "stopped" at "running".
    const check::DeviceResult early = runs.report()->devices.at(0);
    QCOMPARE(early.outcome, check::DeviceOutcome::Stopped);
    QCOMPARE(early.failedStep, std::string("running"));
    QVERIFY(early.steps.empty());
    QVERIFY(peer.send(frame("ACK") + "\r\nPING\r\n"));
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
    const check::FleetReport report = *runs.report();
    const bool csv = saved.endsWith(QStringLiteral(".csv"));
    QCOMPARE(written, csv ? check::CsvReport::text(report) : check::JunitReport::text(report));
    QVERIFY(written.find("127.0.0.1:" + peer.portText()) != std::string::npos);
    // The report names the file that ran, not the saved list's.
    if (!csv)
        QVERIFY(written.find("devicecheck " +
                             data_.filePath(QStringLiteral("run.toml")).toStdString()) !=
                std::string::npos);
    for (const QString& part : content)
        QVERIFY2(written.find(part.toStdString()) != std::string::npos, qPrintable(part));
    const QString xmllint = QStandardPaths::findExecutable(QStringLiteral("xmllint"));
    if (!csv && !xmllint.isEmpty())
        QCOMPARE(QProcess::execute(xmllint, {QStringLiteral("--noout"), file}), 0);

    QVERIFY(!runs.saveReport(data_.filePath(QStringLiteral("none/run.csv")).toStdString(), filter));
    QVERIFY2(runs.statusText().startsWith(QStringLiteral("Report not saved: cannot")),
             qPrintable(runs.statusText()));
}

void TestCommandsActions::takesEachDatagramAsARecord()
{
    openSteps("[[step]]\nname = \"ack\"\nexpect = { command = \"ACK\", within = \"5s\" }\n"
              "[[step]]\nname = \"nak\"\nexpect = { command = \"NAK\", within = \"5s\" }\n"
              "[[answer]]\nwhen = { command = \"NAK\" }\nsend = { text = \"seen\" }\n");
    LoopbackUdpPeer peer;
    QVERIFY(connectUdp(*dialog_, peer.portText()));
    QVERIFY(introduceToUdpPeer(*dialog_, peer));
    window().answers().setOn(true);
    clickRun();
    // Frames with no line end: only each datagram's end ends them, for the
    // run and for the automatic answers alike.
    QVERIFY(peer.sendToSender(frame("ACK")));
    QVERIFY(peer.sendToSender(frame("NAK")));
    QTRY_VERIFY_WITH_TIMEOUT(!window().runs().running(), 10000);
    QCOMPARE(window().runs().statusText(), QStringLiteral("Passed: 2 passed, 0 failed"));
    std::string answer;
    QVERIFY(peer.receive(answer, std::chrono::seconds(5)));
    // As "Send message" sends a text.
    QCOMPARE(QByteArray::fromStdString(answer), QByteArray("seen\r\n\0", 7));
}

// Each automatic answer's echo stood above the frame that caused it in the
// message view, while the Traffic window had the order right.
void TestCommandsActions::answersFollowWhatTheyAnswerInTheView()
{
    openSteps("[[answer]]\nwhen = { command = \"EVT\" }\n"
              "send = { media = \"{media}\", id = \"{id}\", command = \"ACK\", "
              "message = \"{message}\" }\n");
    LoopbackTcpServer peer;
    QVERIFY(connectToTcpPeer(*dialog_, peer));
    window().answers().setOn(true);
    const protocol::DelimiterMode mode = protocol::DelimiterSet::instance().mode();
    constexpr int kEvents = 10;
    for (int i = 0; i < kEvents; ++i) {
        const std::string message = "n" + std::to_string(i);
        QVERIFY(peer.send(protocol::composeFrame({"B", "07", "", "EVT", message}, mode) + "\r\n"));
        std::string answer;
        // The answer goes out from the event loop, which runs between tries
        // (the macro tries once more after the loop: what came is kept).
        bool got = false;
        QTRY_VERIFY_WITH_TIMEOUT(got || (got = peer.receive(answer, std::chrono::milliseconds(10))),
                                 kWaitMs);
        QCOMPARE(answer, protocol::wireBlock(
                             protocol::composeFrame({"B", "07", "", "ACK", message}, mode)));
    }
    // Lines of the view: which holds event i, which the answer to it.
    const auto lineOf = [this](const std::string& command, const std::string& message) {
        const std::string text = viewText(*dialog_);
        int line = 0;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            const std::string_view one = std::string_view(text).substr(start, end - start);
            if (one.find(command) != std::string_view::npos && one.ends_with(message))
                return line;
            ++line;
            start = end + 1;
        }
        return -1;
    };
    for (int i = 0; i < kEvents; ++i) {
        const std::string message = "n" + std::to_string(i);
        QTRY_VERIFY(lineOf("ACK", message) >= 0);
        QVERIFY2(lineOf("EVT", message) >= 0, message.c_str());
        QVERIFY2(lineOf("EVT", message) < lineOf("ACK", message), viewText(*dialog_).c_str());
    }
}

QTEST_MAIN(TestCommandsActions)
#include "tst_commandsactions.moc"
