// The Commands window's own controls over a real console: Enter and a
// double-click on a saved command send its exact bytes, the window comes back
// where it was closed, and the repeat's "not sent" count follows the blocks
// the repeat left queued after it ended.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "loopbacktcpserver.h"

#include "app/commands/commandrepeat.h"
#include "app/commands/commandswindow.h"
#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"

#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>

#include <memory>

using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

// A console whose socket holds few bytes, as on a real network link, so that
// a peer that never reads leaves the sends waiting in the send queue.
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

} // namespace

class TestCommandsControls : public QObject
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

private:
    // Saves the console's fields as a command: a frame with `command`, or
    // `text` as free text when `command` is empty.
    void addCommand(const char* command, const char* text);
    app::CommandsWindow& window() { return *dialog_->commandsWindow(); }

    ConsoleTestEnvironment environment_;
    QTemporaryDir data_;
    std::unique_ptr<app::ConsoleDialog> dialog_;
};

void TestCommandsControls::initTestCase()
{
    QVERIFY(environment_.setUp());
    QVERIFY(data_.isValid());
    QVERIFY(qputenv("XDG_DATA_HOME", data_.path().toLocal8Bit()));
}

void TestCommandsControls::init()
{
    QFile::remove(QString::fromStdString(app::CommandsWindow::defaultPath()));
    dialog_ = std::make_unique<app::ConsoleDialog>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
}

void TestCommandsControls::cleanup()
{
    dialog_.reset();
    ConsoleTestEnvironment::clearSettings();
}

void TestCommandsControls::addCommand(const char* command, const char* text)
{
    comboOf(*dialog_, ConsoleTemplate::kMedia)->setEditText(QStringLiteral("C"));
    comboOf(*dialog_, ConsoleTemplate::kDeviceId)->setEditText(QStringLiteral("01"));
    comboOf(*dialog_, ConsoleTemplate::kCommand)->setEditText(QString::fromLatin1(command));
    editOf(*dialog_, ConsoleTemplate::kFreeTextEdit)->setText(QString::fromLatin1(text));
    QVERIFY(window().addFromConsole());
}

void TestCommandsControls::sendsTheChosenRow_data()
{
    QTest::addColumn<int>("key"); // 0: a double-click
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("double-click") << 0;
}

void TestCommandsControls::sendsTheChosenRow()
{
    QFETCH(int, key);
    addCommand("OPN", "");
    addCommand("", "second command");
    LoopbackTcpServer peer;
    QVERIFY(connectToTcpPeer(*dialog_, peer));
    window().showBeside(dialog_.get());
    QListWidget* rows = window().listView();
    rows->setCurrentRow(1);
    if (key != 0) {
        QTest::keyClick(rows, Qt::Key(key));
    } else {
        const QPoint at = rows->visualItemRect(rows->item(1)).center();
        // The first click of a double-click chooses the row, as a user's does.
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(rows->viewport(), Qt::LeftButton, {}, at);
    }
    std::string block;
    QVERIFY(peer.receive(block, std::chrono::seconds(5)));
    QCOMPARE(block, protocol::wireBlock("second command"));
    QVERIFY(!peer.receive(block, std::chrono::milliseconds(200)));
}

void TestCommandsControls::comesBackWhereItWasClosed()
{
    window().showBeside(dialog_.get());
    const QRect chosen(40, 60, 600, 450);
    window().setGeometry(chosen);
    QTRY_COMPARE(window().geometry(), chosen);
    window().close();
    // A new console with the same settings folder.
    dialog_ = std::make_unique<app::ConsoleDialog>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
    window().showBeside(dialog_.get());
    QTRY_VERIFY(window().isVisible());
    QCOMPARE(window().geometry(), chosen);
}

void TestCommandsControls::notSentFollowsTheQueueAfterTheRepeat()
{
    dialog_ = std::make_unique<SmallBufferConsole>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog_.get()));
    // Whole 2 KB blocks, so a few fill the socket; the peer never reads.
    addCommand("", std::string(protocol::kFreeTextMaxLength, 'x').c_str());
    LoopbackTcpServer peer(LoopbackTcpServer::kDefaultBacklog, 4096);
    QVERIFY(connectToTcpPeer(*dialog_, peer));
    QVERIFY(window().startRepeat(0, 1, 200));
    QTRY_VERIFY_WITH_TIMEOUT(!window().repeat().running(), 10000);
    QVERIFY2(!window().repeatText().endsWith(QStringLiteral("waiting: 0")),
             qPrintable(window().repeatText()));
    // What waited goes when the connection ends; the line follows.
    click(*dialog_, ConsoleTemplate::kDisconnect);
    QTRY_VERIFY_WITH_TIMEOUT(window().repeatText().endsWith(QStringLiteral("waiting: 0")), 10000);
    QVERIFY2(!window().repeatText().contains(QStringLiteral("not sent: 0,")),
             qPrintable(window().repeatText()));
}

QTEST_MAIN(TestCommandsControls)
#include "tst_commandscontrols.moc"
