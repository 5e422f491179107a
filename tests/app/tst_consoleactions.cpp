// The console's actions against real TCP and UDP peers on 127.0.0.1, driven by
// clicks and keys: connect, disconnect, send free text, send a command frame,
// a dropped connection, and closing while connected.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"
#include "messageboxwatcher.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/console/dialogcombobox.h"
#include "app/console/ipv4addressedit.h"
#include "app/view/messageview.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <chrono>
#include <memory>
#include <string>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

const QByteArray kDemoFrameOnWire("[BA139123439=ENT-Message / Description\r\n\0", 41);
const QByteArray kReleaseFrameOnWire("\x07"
                                     "BA139123439\x08"
                                     "ENT\x09"
                                     "Message / Description\r\n\0",
                                     41);
const std::string kFrameEcho = " -> [BA139123439=ENT-Message / Description\n";

// The console with a switch to make the next watcher starts fail, as a thread
// that cannot be started would.
class WatcherFailingDialog : public ConsoleDialog
{
public:
    int failuresLeft = 0;

protected:
    bool startWatcher() override
    {
        if (failuresLeft > 0) {
            --failuresLeft;
            return false;
        }
        return ConsoleDialog::startWatcher();
    }
};

} // namespace

class TestConsoleActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void tcpConnectShowsServerAndPort();
    void udpConnectShowsLocalAddressAndPort();
    void failedConnectChangesNothing();
    void freeTextGoesOutInOneWrite_data();
    void freeTextGoesOutInOneWrite();
    void emptyFreeTextSendsNothing();
    void enterInFreeTextWhileDisconnectedIsConsumed();
    void commandFrameGoesOutInOneWriteWithEcho_data();
    void commandFrameGoesOutInOneWriteWithEcho();
    void enterInAnotherEditPressesSendThisData();
    void missingFieldShowsOneMessageBox_data();
    void missingFieldShowsOneMessageBox();
    void frameWithoutConnectionSendsAndShowsNothing();
    void droppedConnectionIsShownAndDisconnectRestores();
    void secondConnectReplacesView();
    void closingWhileConnectedStopsChannel_data();
    void closingWhileConnectedStopsChannel();
    void failedWatcherStartLeavesConsoleAbleToConnect();

private:
    ConsoleTestEnvironment environment_;
};

void TestConsoleActions::tcpConnectShowsServerAndPort()
{
    LoopbackTcpServer peer;
    QVERIFY(peer.listening());
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    clickConnect(dialog, peer.portText());
    QVERIFY(peer.accept(kWait));

    QCOMPARE(viewText(dialog),
             "Connection established with server: 127.0.0.1 on port " + peer.portText() + "\n");
    QVERIFY(isConnectedState(dialog));
    QCOMPARE(QApplication::focusWidget(), dialog.control(ConsoleTemplate::kFreeTextEdit));
}

void TestConsoleActions::udpConnectShowsLocalAddressAndPort()
{
    LoopbackUdpPeer peer;
    QVERIFY(peer.bound());
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    chooseSocketType(dialog, true);
    clickConnect(dialog, peer.portText());
    QVERIFY(isConnectedState(dialog));

    // The peer learns the console's local port from a datagram it sends.
    QVERIFY(introduceToUdpPeer(dialog, peer));
    const std::uint16_t localPort = peer.senderPort();
    QVERIFY(localPort != 0);
    QCOMPARE(viewText(dialog),
             "Socket created: IP: 127.0.0.1, Port: " + std::to_string(localPort) + "\n");
}

void TestConsoleActions::failedConnectChangesNothing()
{
    // A port on which nothing listens any more: the connect is refused.
    std::uint16_t freePort = 0;
    {
        LoopbackTcpServer closed;
        QVERIFY(closed.listening());
        freePort = closed.port();
    }
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    clickConnect(dialog, std::to_string(freePort));

    QVERIFY(isDisconnectedState(dialog));
    QVERIFY(viewText(dialog).empty());
    QCOMPARE(QApplication::focusWidget(), dialog.control(ConsoleTemplate::kConnect));
}

void TestConsoleActions::freeTextGoesOutInOneWrite_data()
{
    QTest::addColumn<bool>("udp");
    QTest::addColumn<bool>("byButton");
    QTest::newRow("UDP, Enter") << true << false;
    QTest::newRow("UDP, Send message") << true << true;
    QTest::newRow("TCP, Enter") << false << false;
    QTest::newRow("TCP, Send message") << false << true;
}

void TestConsoleActions::freeTextGoesOutInOneWrite()
{
    QFETCH(bool, udp);
    QFETCH(bool, byButton);
    LoopbackTcpServer tcpPeer;
    LoopbackUdpPeer udpPeer;
    QVERIFY(udp ? udpPeer.bound() : tcpPeer.listening());
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    chooseSocketType(dialog, udp);
    clickConnect(dialog, udp ? udpPeer.portText() : tcpPeer.portText());
    QVERIFY(isConnectedState(dialog));
    if (!udp)
        QVERIFY(tcpPeer.accept(kWait));
    const std::string connectLine = viewText(dialog);

    QLineEdit* freeText = editOf(dialog, ConsoleTemplate::kFreeTextEdit);
    QTest::keyClicks(freeText, QStringLiteral("abc"));
    if (byButton)
        QTest::mouseClick(dialog.control(ConsoleTemplate::kSendMessage), Qt::LeftButton);
    else
        QTest::keyClick(freeText, Qt::Key_Return);

    // Over UDP one datagram is one write.
    std::string received;
    QVERIFY(udp ? udpPeer.receive(received, kWait) : tcpPeer.receive(received, kWait));
    QCOMPARE(QByteArray::fromStdString(received), QByteArray("abc\r\n\0", 6));
    QCOMPARE(freeText->text(), QStringLiteral("abc"));
    QCOMPARE(viewText(dialog), connectLine);
    QVERIFY(dialog.isVisible());
}

void TestConsoleActions::emptyFreeTextSendsNothing()
{
    LoopbackUdpPeer peer;
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    chooseSocketType(dialog, true);
    clickConnect(dialog, peer.portText());
    QLineEdit* freeText = editOf(dialog, ConsoleTemplate::kFreeTextEdit);
    QTest::keyClick(freeText, Qt::Key_Return);
    QTest::mouseClick(dialog.control(ConsoleTemplate::kSendMessage), Qt::LeftButton);
    QTest::keyClicks(freeText, QStringLiteral("x"));
    QTest::keyClick(freeText, Qt::Key_Return);
    // The first datagram that arrives is the one with text.
    std::string received;
    QVERIFY(peer.receive(received, kWait));
    QCOMPARE(QByteArray::fromStdString(received), QByteArray("x\r\n\0", 4));
}

void TestConsoleActions::enterInFreeTextWhileDisconnectedIsConsumed()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    // Were Enter to reach the default button, this empty command would raise
    // a message box.
    comboOf(dialog, ConsoleTemplate::kCommand)->setEditText(QString());
    QLineEdit* freeText = editOf(dialog, ConsoleTemplate::kFreeTextEdit);
    freeText->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(freeText, QStringLiteral("abc"));
    MessageBoxWatcher boxes;
    QTest::keyClick(freeText, Qt::Key_Return);
    QTest::keyClick(freeText, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(boxes.texts().isEmpty());
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), 0);
    QCOMPARE(freeText->text(), QStringLiteral("abc"));
}

void TestConsoleActions::commandFrameGoesOutInOneWriteWithEcho_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("echo");
    const QString defaultData = QStringLiteral("39123439");
    const QString defaultMessage = QStringLiteral("Message / Description");
    const QString echo = QString::fromStdString(kFrameEcho);
    QTest::newRow("DEMO, fields as opened")
        << "stored DEMO" << defaultData << defaultMessage << kDemoFrameOnWire << echo;
    QTest::newRow("RELEASE stored")
        << "stored RELEASE" << defaultData << defaultMessage << kReleaseFrameOnWire << echo;
    QTest::newRow("RELEASE chosen in the mode box")
        << "chosen RELEASE" << defaultData << defaultMessage << kReleaseFrameOnWire << echo;
    QTest::newRow("empty data and message: 12 bytes")
        << "stored DEMO" << QString() << QString() << QByteArray("[BA1=ENT-\r\n\0", 12)
        << " -> [BA1=ENT-\n";
}

void TestConsoleActions::commandFrameGoesOutInOneWriteWithEcho()
{
    QFETCH(QString, mode);
    QFETCH(QString, data);
    QFETCH(QString, message);
    QFETCH(QByteArray, wire);
    QFETCH(QString, echo);
    ConsoleTestEnvironment::setValue("bRelease", mode == QLatin1String("stored RELEASE") ? 1 : 0);
    LoopbackUdpPeer peer;
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    if (mode == QLatin1String("chosen RELEASE")) {
        app::DialogComboBox* modeBox = comboOf(dialog, ConsoleTemplate::kMode);
        modeBox->setFocus(Qt::TabFocusReason);
        modeBox->setCurrentIndex(1);
    }
    chooseSocketType(dialog, true);
    clickConnect(dialog, peer.portText());
    QVERIFY(isConnectedState(dialog));
    const std::string connectLine = viewText(dialog);
    editOf(dialog, ConsoleTemplate::kData)->setText(data);
    editOf(dialog, ConsoleTemplate::kMessage)->setText(message);

    QTest::mouseClick(dialog.control(ConsoleTemplate::kSendThisData), Qt::LeftButton);
    std::string received;
    QVERIFY(peer.receive(received, kWait));
    QCOMPARE(QByteArray::fromStdString(received), wire);
    QCOMPARE(viewText(dialog), connectLine + echo.toStdString());
}

void TestConsoleActions::enterInAnotherEditPressesSendThisData()
{
    LoopbackUdpPeer peer;
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    chooseSocketType(dialog, true);
    clickConnect(dialog, peer.portText());
    QLineEdit* message = editOf(dialog, ConsoleTemplate::kMessage);
    message->setFocus(Qt::TabFocusReason);
    QTest::keyClick(message, Qt::Key_Return);
    std::string received;
    QVERIFY(peer.receive(received, kWait));
    QCOMPARE(QByteArray::fromStdString(received), kDemoFrameOnWire);
    QVERIFY(dialog.isVisible());
}

void TestConsoleActions::missingFieldShowsOneMessageBox_data()
{
    QTest::addColumn<QString>("media");
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("text");
    QTest::newRow("command of two characters") << "B - BARCODE"
                                               << "A1"
                                               << "EN"
                                               << "Error Command, have to be added !";
    QTest::newRow("media empty") << ""
                                 << "A1"
                                 << "ENT"
                                 << "Error Media, have to be added !";
    QTest::newRow("device id of one character") << "B"
                                                << "1"
                                                << "ENT"
                                                << "Error Device Id, have to be added !";
    QTest::newRow("all missing: the command is named, only it")
        << ""
        << ""
        << ""
        << "Error Command, have to be added !";
    QTest::newRow("media and device id missing: media first") << ""
                                                              << ""
                                                              << "DEL"
                                                              << "Error Media, have to be added !";
}

void TestConsoleActions::missingFieldShowsOneMessageBox()
{
    QFETCH(QString, media);
    QFETCH(QString, deviceId);
    QFETCH(QString, command);
    QFETCH(QString, text);
    LoopbackUdpPeer peer;
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    chooseSocketType(dialog, true);
    clickConnect(dialog, peer.portText());
    const std::string connectLine = viewText(dialog);
    comboOf(dialog, ConsoleTemplate::kMedia)->setEditText(media);
    comboOf(dialog, ConsoleTemplate::kDeviceId)->setEditText(deviceId);
    comboOf(dialog, ConsoleTemplate::kCommand)->setEditText(command);

    {
        MessageBoxWatcher boxes;
        QTest::mouseClick(dialog.control(ConsoleTemplate::kSendThisData), Qt::LeftButton);
        QCOMPARE(boxes.texts(), QStringList{text});
        QCOMPARE(boxes.buttons(), QList<int>{int(QMessageBox::Ok)});
    }
    QCOMPARE(viewText(dialog), connectLine);

    // Nothing went out: the first datagram is the valid frame sent next.
    comboOf(dialog, ConsoleTemplate::kMedia)->setEditText(QStringLiteral("B"));
    comboOf(dialog, ConsoleTemplate::kDeviceId)->setEditText(QStringLiteral("A1"));
    comboOf(dialog, ConsoleTemplate::kCommand)->setEditText(QStringLiteral("ENT"));
    QTest::mouseClick(dialog.control(ConsoleTemplate::kSendThisData), Qt::LeftButton);
    std::string received;
    QVERIFY(peer.receive(received, kWait));
    QCOMPARE(QByteArray::fromStdString(received), kDemoFrameOnWire);
}

void TestConsoleActions::frameWithoutConnectionSendsAndShowsNothing()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    MessageBoxWatcher boxes;
    QTest::mouseClick(dialog.control(ConsoleTemplate::kSendThisData), Qt::LeftButton);
    QVERIFY(boxes.texts().isEmpty());
    QVERIFY(viewText(dialog).empty());

    comboOf(dialog, ConsoleTemplate::kMedia)->setEditText(QString());
    QTest::mouseClick(dialog.control(ConsoleTemplate::kSendThisData), Qt::LeftButton);
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Error Media, have to be added !")});
}

void TestConsoleActions::droppedConnectionIsShownAndDisconnectRestores()
{
    LoopbackTcpServer peer;
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    clickConnect(dialog, peer.portText());
    QVERIFY(peer.accept(kWait));
    const std::string connectLine = viewText(dialog);

    peer.closeConnection();
    QTRY_COMPARE_WITH_TIMEOUT(viewText(dialog), connectLine + "Connection Abandonned\n", kWaitMs);
    QVERIFY(isConnectedState(dialog));

    QTest::mouseClick(dialog.control(ConsoleTemplate::kDisconnect), Qt::LeftButton);
    QVERIFY(isDisconnectedState(dialog));
    QCOMPARE(QApplication::focusWidget(), dialog.control(ConsoleTemplate::kMessageView));
    QCOMPARE(viewText(dialog), connectLine + "Connection Abandonned\n");
}

void TestConsoleActions::secondConnectReplacesView()
{
    LoopbackTcpServer peer;
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    clickConnect(dialog, peer.portText());
    QVERIFY(peer.accept(kWait));
    const std::string connectLine = viewText(dialog);
    QVERIFY(peer.send("[BA1=ENT-hello\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(viewText(dialog), connectLine + "[BA1=ENT-hello\n", kWaitMs);

    QTest::mouseClick(dialog.control(ConsoleTemplate::kDisconnect), Qt::LeftButton);
    QVERIFY(isDisconnectedState(dialog));
    QVERIFY(peer.waitForClose(kWait));

    clickConnect(dialog, peer.portText());
    QVERIFY(peer.accept(kWait));
    QVERIFY(isConnectedState(dialog));
    QCOMPARE(viewText(dialog), connectLine);
}

void TestConsoleActions::closingWhileConnectedStopsChannel_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("close request") << false;
    QTest::newRow("Close button") << true;
}

void TestConsoleActions::closingWhileConnectedStopsChannel()
{
    QFETCH(bool, byButton);
    LoopbackTcpServer peer;
    auto dialog = std::make_unique<ConsoleDialog>();
    QVERIFY(ConsoleTestEnvironment::showActive(dialog.get()));
    clickConnect(*dialog, peer.portText());
    QVERIFY(peer.accept(kWait));

    if (byButton)
        QTest::mouseClick(dialog->control(ConsoleTemplate::kClose), Qt::LeftButton);
    else
        QVERIFY(dialog->close());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QVERIFY(!dialog->isVisible());
    // The channel has let the socket go while the window still exists.
    QVERIFY(peer.waitForClose(kWait));
    dialog.reset();
}

// Regression: when openClient succeeded but the watcher could not start, the
// channel kept its socket, and every later connect failed until the window
// was closed.
void TestConsoleActions::failedWatcherStartLeavesConsoleAbleToConnect()
{
    LoopbackTcpServer peer;
    WatcherFailingDialog dialog;
    dialog.failuresLeft = 1;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));

    clickConnect(dialog, peer.portText());
    QVERIFY(peer.accept(kWait));
    QVERIFY(peer.waitForClose(kWait));
    QVERIFY(isDisconnectedState(dialog));
    QVERIFY(viewText(dialog).empty());

    clickConnect(dialog, peer.portText());
    QVERIFY(peer.accept(kWait));
    QVERIFY(isConnectedState(dialog));
    QCOMPARE(viewText(dialog),
             "Connection established with server: 127.0.0.1 on port " + peer.portText() + "\n");
}

QTEST_MAIN(TestConsoleActions)
#include "tst_consoleactions.moc"
