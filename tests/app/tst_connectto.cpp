// Connecting the console to a host name or an IPv6 address: the command
// line's --connect at the start and the Devices window's "Connect to", both
// against loopback peers; an IPv4 --connect goes through the address control.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "dialogcontrols.h"
#include "loopbacktcpserver.h"

#include "app/console/consoledialog.h"
#include "app/console/consoleoptions.h"
#include "app/console/consoletemplate.h"
#include "app/console/ipv4addressedit.h"
#include "app/console/startupconnect.h"
#include "app/devices/consolehost.h"
#include "app/devices/deviceswindow.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

// A socket of `type` bound to the loopback address of `family` on a port the
// system chose (TCP: listening); fd -1 when that loopback is missing.
struct LoopbackPeer {
    LoopbackPeer(int family, int type) : fd(::socket(family, type | SOCK_CLOEXEC, 0))
    {
        const net::Endpoint local =
            *net::Endpoint::fromNumeric(family == AF_INET6 ? "::1" : "127.0.0.1", 0);
        if (fd < 0 || ::bind(fd, local.address(), local.length) != 0 ||
            (type == SOCK_STREAM && ::listen(fd, 4) != 0)) {
            closeNow();
            return;
        }
        port = QString::number(net::Endpoint::localOf(fd).port());
    }
    ~LoopbackPeer() { closeNow(); }
    void closeNow()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int fd = -1;
    QString port;
};

QString addressText(const ConsoleDialog& dialog)
{
    return qobject_cast<app::Ipv4AddressEdit*>(dialog.control(ConsoleTemplate::kServerAddress))
        ->text();
}

} // namespace

class TestConnectTo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void connectAtStart_data();
    void connectAtStart();
    void devicesWindowConnectsToTheNamedHost();
    void nameThatDoesNotResolveIsToldOnConnect();

private:
    ConsoleTestEnvironment environment_;
};

void TestConnectTo::connectAtStart_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<bool>("udp");
    QTest::addColumn<QString>("target"); // PORT: the peer's port
    QTest::addColumn<QString>("line");   // the view's connect line; empty: not checked
    QTest::addColumn<bool>("fillsAddress");

    QTest::newRow("IPv6 TCP") << AF_INET6 << false << "[::1]:PORT"
                              << "Connection established with server: [::1] on port PORT" << false;
    QTest::newRow("IPv6 UDP") << AF_INET6 << true << "[::1]:PORT" << QString() << false;
    QTest::newRow("name") << AF_INET << false << "localhost:PORT"
                          << "Connection established with server: localhost on port PORT" << false;
    QTest::newRow("IPv4") << AF_INET << false << "127.0.0.1:PORT"
                          << "Connection established with server: 127.0.0.1 on port PORT" << true;
}

void TestConnectTo::connectAtStart()
{
    QFETCH(int, family);
    QFETCH(bool, udp);
    QFETCH(QString, target);
    QFETCH(QString, line);
    QFETCH(bool, fillsAddress);

    LoopbackPeer peer(family, udp ? SOCK_DGRAM : SOCK_STREAM);
    if (peer.fd < 0)
        QSKIP("no loopback of this family on this machine");
    target.replace(QStringLiteral("PORT"), peer.port);
    line.replace(QStringLiteral("PORT"), peer.port);
    app::ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("1"));
    QCOMPARE(options.check({QStringLiteral("socketclient"), QStringLiteral("--connect"), target}),
             app::ConsoleOptions::Action::Run);

    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    chooseSocketType(dialog, udp);
    const QString addressBefore = addressText(dialog);
    app::connectAtStart(dialog, *options.connectTo());
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
    if (!line.isEmpty())
        QCOMPARE(countLines(dialog, line.toStdString()), std::size_t{1});
    QCOMPARE(addressText(dialog), fillsAddress ? QStringLiteral("127.0.0.1") : addressBefore);
    QCOMPARE(editOf(dialog, ConsoleTemplate::kPortEdit)->text() == peer.port, fillsAddress);
    // The record and the Devices window name an IPv6 peer in brackets.
    const std::string watched = dialog.consoleHost().watch().current().target;
    QCOMPARE(QString::fromStdString(watched), target);
    if (udp) {
        // A connected datagram socket: the free text reaches the peer.
        QLineEdit* freeText = editOf(dialog, ConsoleTemplate::kFreeTextEdit);
        QTest::keyClicks(freeText, QStringLiteral("hi"));
        QTest::keyClick(freeText, Qt::Key_Return);
        char got[16] = {};
        bool received = false;
        QTRY_VERIFY_WITH_TIMEOUT(
            received || (received = ::recv(peer.fd, got, sizeof got, MSG_DONTWAIT) > 0), kWaitMs);
    }
    click(dialog, ConsoleTemplate::kDisconnect);
    QVERIFY(isDisconnectedState(dialog));
}

void TestConnectTo::devicesWindowConnectsToTheNamedHost()
{
    LoopbackPeer peer(AF_INET6, SOCK_STREAM);
    if (peer.fd < 0)
        QSKIP("no IPv6 loopback on this machine");
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    dialog.showDevicesWindow();
    app::DevicesWindow& window = *dialog.devicesWindow();

    // A text that names no host is told beside the counts; nothing starts.
    window.connectToEdit()->setText(QStringLiteral("[::1"));
    window.connectToButton()->click();
    QVERIFY2(window.noteText().startsWith(QStringLiteral("Cannot connect to \"[::1\": ")),
             qPrintable(window.noteText()));
    QVERIFY(!dialog.connectPending());

    const QString target = QStringLiteral("[::1]:") + peer.port;
    window.connectToEdit()->setText(target);
    window.connectToButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
    QCOMPARE(countLines(dialog, "Connection established with server: [::1] on port " +
                                    peer.port.toStdString()),
             std::size_t{1});
    window.refresh();
    QVERIFY(!window.connectToButton()->isEnabled());
    QCOMPARE(
        ConsoleTestEnvironment::settings()->value(QStringLiteral("Devices/ConnectTo")).toString(),
        target);

    click(dialog, ConsoleTemplate::kDisconnect);
    window.refresh();
    QVERIFY(window.connectToButton()->isEnabled());
    // The text comes back in the next window.
    ConsoleDialog next;
    next.devicesWindow();
    QCOMPARE(next.devicesWindow()->connectToEdit()->text(), target);
}

void TestConnectTo::nameThatDoesNotResolveIsToldOnConnect()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    // A label too long for any name: refused without a query leaving the machine.
    const QString unknown = QString(64, QLatin1Char('a')) + QStringLiteral(".invalid");
    QVERIFY(dialog.connectTo(unknown, QStringLiteral("21210")));
    QVERIFY2(!dialog.connectTo(unknown, QString()), "one attempt at a time");
    QVERIFY(waitForConnectEnd(dialog));
    QVERIFY(isDisconnectedState(dialog));
    const QString tip = dialog.control(ConsoleTemplate::kConnect)->toolTip();
    QVERIFY2(tip.startsWith(QStringLiteral("Last attempt: %1:21210 TCP, \"%1\": ").arg(unknown)),
             qPrintable(tip));
}

QTEST_MAIN(TestConnectTo)
#include "tst_connectto.moc"
