// Connecting the console to a host name or an IPv6 address: --connect at the
// start and the Devices window's "Connect to"; an IPv4 --connect goes through
// the address control.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "dialogcontrols.h"

#include "app/console/consoleoptions.h"
#include "app/console/consoletemplate.h"
#include "app/console/ipv4addressedit.h"
#include "app/console/startupconnect.h"
#include "app/devices/deviceswindow.h"

#include <QPushButton>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using namespace consoledriver;

namespace
{

// A TCP listener on the loopback address `address`; closed at the end.
struct Listener {
    explicit Listener(const char* address)
    {
        const net::Endpoint local = *net::Endpoint::fromNumeric(address, 0);
        fd = ::socket(local.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::bind(fd, local.address(), local.length) == 0 && ::listen(fd, 4) == 0)
            port = QString::number(net::Endpoint::localOf(fd).port());
    }
    ~Listener() { ::close(fd); }
    int fd = -1;
    QString port; // empty when the address cannot be had
};

QString addressText(const ConsoleDialog& dialog)
{
    return controlOf<app::Ipv4AddressEdit>(dialog, ConsoleTemplate::kServerAddress)->text();
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

private:
    ConsoleTestEnvironment environment_;
};

void TestConnectTo::connectAtStart_data()
{
    QTest::addColumn<QString>("listenOn");
    QTest::addColumn<QString>("target"); // PORT: the listener's
    QTest::addColumn<QString>("shownHost");
    QTest::addColumn<bool>("fillsAddress");
    QTest::newRow("IPv6") << "::1"
                          << "[::1]:PORT"
                          << "[::1]" << false;
    QTest::newRow("name") << "127.0.0.1"
                          << "localhost:PORT"
                          << "localhost" << false;
    QTest::newRow("IPv4") << "127.0.0.1"
                          << "127.0.0.1:PORT"
                          << "127.0.0.1" << true;
}

void TestConnectTo::connectAtStart()
{
    QFETCH(QString, listenOn);
    QFETCH(QString, target);
    QFETCH(QString, shownHost);
    QFETCH(bool, fillsAddress);
    Listener listener(qPrintable(listenOn));
    if (listener.port.isEmpty())
        QSKIP("this loopback address is missing here");
    target.replace(QStringLiteral("PORT"), listener.port);
    app::ConsoleOptions options(QStringLiteral("socketclient"), QStringLiteral("1"));
    QCOMPARE(options.check({QStringLiteral("socketclient"), QStringLiteral("--connect"), target}),
             app::ConsoleOptions::Action::Run);

    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    const QString addressBefore = addressText(dialog);
    app::connectAtStart(dialog, *options.connectTo());
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
    QCOMPARE(countLines(dialog, "Connection established with server: " + shownHost.toStdString() +
                                    " on port " + listener.port.toStdString()),
             std::size_t{1});
    QCOMPARE(addressText(dialog), fillsAddress ? listenOn : addressBefore);
    QCOMPARE(editOf(dialog, ConsoleTemplate::kPortEdit)->text() == listener.port, fillsAddress);
    // The record and the Devices window name an IPv6 peer in brackets.
    QCOMPARE(QString::fromStdString(dialog.consoleHost().watch().current().target), target);
}

void TestConnectTo::devicesWindowConnectsToTheNamedHost()
{
    Listener listener("::1");
    if (listener.port.isEmpty())
        QSKIP("no IPv6 loopback here");
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    app::DevicesWindow& window = *dialog.devicesWindow();
    const QString target = QStringLiteral("[::1]:") + listener.port;
    window.connectToEdit()->setText(target);
    window.connectToButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
    window.refresh();
    QVERIFY(!window.connectToButton()->isEnabled());
    click(dialog, ConsoleTemplate::kDisconnect);
    window.refresh();
    QVERIFY(window.connectToButton()->isEnabled());
    QCOMPARE(
        ConsoleTestEnvironment::settings()->value(QStringLiteral("Devices/ConnectTo")).toString(),
        target);
}

QTEST_MAIN(TestConnectTo)
#include "tst_connectto.moc"
