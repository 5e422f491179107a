// Host mode: devices that call in become the console's device through the
// server role, others are served by the host and listed in the Devices
// window, which switches the console's device, lists UDP devices by their
// address, holds to its bound and tells a port in use.

#include "consoledriver.h"
#include "consoletestenvironment.h"
#include "loopbacktcpserver.h"

#include "app/commands/answerpanel.h"
#include "app/commands/commandswindow.h"
#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/devices/consolehost.h"
#include "app/devices/deviceswindow.h"
#include "app/view/messageview.h"

#include "protocol/commandframe.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <optional>

using app::ConsoleDialog;
using app::ConsoleTemplate;
using app::DevicesModel;
using namespace consoledriver;

namespace
{

constexpr std::string_view kEstablished = "Connection Established";
constexpr std::string_view kAbandonned = "Connection Abandonned";

// A device that calls in: a socket of `type` connected to the console.
struct Device {
    int fd = -1;
    Device(int type, const net::Endpoint& host)
    {
        fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        if (::connect(fd, host.address(), host.length) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~Device() { closeNow(); }
    void closeNow()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    bool send(std::string_view bytes)
    {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // What arrives within `limit` (the UI goes on meanwhile); nullopt for
    // the end of the stream.
    std::optional<std::string> receive(int limitMs = kWaitMs)
    {
        std::string got;
        const bool came = QTest::qWaitFor(
            [&] {
                pollfd ready{fd, POLLIN, 0};
                return ::poll(&ready, 1, 0) > 0;
            },
            limitMs);
        if (!came)
            return got;
        char bytes[4096];
        const ssize_t n = ::recv(fd, bytes, sizeof bytes, 0);
        if (n <= 0)
            return std::nullopt;
        return std::string(bytes, static_cast<std::size_t>(n));
    }
    std::string local() const { return net::Endpoint::localOf(fd).text(); }
};

// A frame the console's check lets through, with `message` in it.
std::string frameOf(const std::string& message)
{
    return protocol::wireBlock(
        protocol::composeFrame({"B", "07", "", "EVT", message}, protocol::DelimiterMode::Demo));
}

net::Endpoint loopbackPortZero()
{
    return *net::Endpoint::fromNumeric("127.0.0.1", 0);
}

// The Devices window's row whose address cell is `address`, or -1.
int rowOf(app::DevicesWindow& window, const std::string& address)
{
    window.refresh();
    DevicesModel& model = window.model();
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.index(row, DevicesModel::Address).data().toString().toStdString() == address)
            return row;
    return -1;
}

QString cell(app::DevicesWindow& window, int row, int column)
{
    return window.model().index(row, column).data().toString();
}

} // namespace

class TestDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(environment_.setUp()); }
    void init() { ConsoleTestEnvironment::clearSettings(); }

    void firstDeviceIsServedThroughTheServerRole();
    void chosenDeviceBecomesTheConsolesAndTheOthersStay();
    void udpDevicesAreListedByAddress();
    void deviceBeyondTheBoundIsClosed();
    void portInUseIsRefusedWithTheReason();
    void devicesWindowOpensFromTheViewsMenu();
    void automaticAnswersAnswerEveryDevice();
    void consolesOwnConnectionShowsItsTrueState();
    void stopKeepsTheDevicesAndCloseEndsThem();

private:
    ConsoleTestEnvironment environment_;
};

void TestDevices::firstDeviceIsServedThroughTheServerRole()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    const auto local = dialog.consoleHost().listen(host::DeviceHost::Tcp, loopbackPortZero());
    QVERIFY(local.ok());

    Device first(SOCK_STREAM, *local);
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(countLines(dialog, kEstablished), std::size_t{1}, kWaitMs);
    QVERIFY(first.send(frameOf("from the device")));
    QTRY_VERIFY_WITH_TIMEOUT(viewText(dialog).find("from the device") != std::string::npos,
                             kWaitMs);
    click(dialog, ConsoleTemplate::kSendThisData);
    const std::optional<std::string> frame = first.receive();
    QVERIFY(frame && !frame->empty());

    first.closeNow();
    QTRY_COMPARE_WITH_TIMEOUT(countLines(dialog, kAbandonned), std::size_t{1}, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(isDisconnectedState(dialog), kWaitMs);

    // The next device to call in is taken the same way.
    Device next(SOCK_STREAM, *local);
    QTRY_COMPARE_WITH_TIMEOUT(countLines(dialog, kEstablished), std::size_t{2}, kWaitMs);
    QVERIFY(isConnectedState(dialog));
    QVERIFY(next.send(frameOf("next one")));
    QTRY_VERIFY_WITH_TIMEOUT(viewText(dialog).find("next one") != std::string::npos, kWaitMs);
    click(dialog, ConsoleTemplate::kDisconnect);
    QCOMPARE(next.receive(), std::nullopt);
    QVERIFY(isDisconnectedState(dialog));
}

void TestDevices::chosenDeviceBecomesTheConsolesAndTheOthersStay()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    const auto local = dialog.consoleHost().listen(host::DeviceHost::Tcp, loopbackPortZero());
    QVERIFY(local.ok());
    Device first(SOCK_STREAM, *local);
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
    Device second(SOCK_STREAM, *local);
    Device third(SOCK_STREAM, *local);
    dialog.showDevicesWindow();
    app::DevicesWindow& window = *dialog.devicesWindow();
    QTRY_VERIFY_WITH_TIMEOUT(rowOf(window, third.local()) >= 0, kWaitMs);
    const int secondRow = rowOf(window, second.local());
    QVERIFY(secondRow >= 0);
    QCOMPARE(cell(window, secondRow, DevicesModel::State), QStringLiteral("connected"));

    window.table()->selectRow(secondRow);
    // A device that connects meanwhile changes the list, not the selection.
    Device fourth(SOCK_STREAM, *local);
    QTRY_VERIFY_WITH_TIMEOUT(rowOf(window, fourth.local()) >= 0, kWaitMs);
    QCOMPARE(window.table()->selectionModel()->selectedRows().value(0).row(),
             rowOf(window, second.local()));
    QTest::mouseClick(window.chooseButton(), Qt::LeftButton);
    const std::string chosenLine = "Now serving device " + second.local();
    QTRY_COMPARE_WITH_TIMEOUT(countLines(dialog, chosenLine), std::size_t{1}, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
    QVERIFY(second.send(frameOf("second speaks")));
    QTRY_VERIFY_WITH_TIMEOUT(viewText(dialog).find("second speaks") != std::string::npos, kWaitMs);

    // The first went back to the host: still connected, its traffic counted
    // there, not shown in the view.
    QVERIFY(first.send("first speaks\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(
        cell(window, rowOf(window, first.local()), DevicesModel::BytesIn).toInt() >= 14, kWaitMs);
    QCOMPARE(cell(window, rowOf(window, first.local()), DevicesModel::State),
             QStringLiteral("connected"));
    QVERIFY(viewText(dialog).find("first speaks") == std::string::npos);
    QVERIFY(third.send("third\r\n"));
    QVERIFY(third.receive(100) == std::string());

    // The console's row shows its device.
    QCOMPARE(cell(window, 0, DevicesModel::Address).toStdString(),
             net::Endpoint::localOf(second.fd).addressText() + ":" +
                 std::to_string(net::Endpoint::localOf(second.fd).port()));
    QCOMPARE(cell(window, 0, DevicesModel::State), QStringLiteral("console: connected"));
}

void TestDevices::udpDevicesAreListedByAddress()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    const auto local = dialog.consoleHost().listen(host::DeviceHost::Both, loopbackPortZero());
    QVERIFY(local.ok());
    // The first address heard is the console's device; its datagrams reach
    // the view and the console's sends go back to that address.
    Device a(SOCK_DGRAM, *local);
    QVERIFY(a.send(frameOf("alpha")));
    QTRY_COMPARE_WITH_TIMEOUT(countLines(dialog, kEstablished), std::size_t{1}, kWaitMs);
    QVERIFY(isConnectedState(dialog));
    QTRY_VERIFY_WITH_TIMEOUT(viewText(dialog).find("alpha") != std::string::npos, kWaitMs);
    click(dialog, ConsoleTemplate::kSendThisData);
    const std::optional<std::string> sent = a.receive();
    QVERIFY(sent && !sent->empty());

    Device b(SOCK_DGRAM, *local);
    QVERIFY(b.send("beta\r\n"));
    QVERIFY(b.send("beta again\r\n"));
    dialog.showDevicesWindow();
    app::DevicesWindow& window = *dialog.devicesWindow();
    QTRY_VERIFY_WITH_TIMEOUT(rowOf(window, b.local()) >= 0 &&
                                 cell(window, rowOf(window, b.local()), DevicesModel::BytesIn) ==
                                     QStringLiteral("18"),
                             kWaitMs);
    const int row = rowOf(window, b.local());
    QCOMPARE(cell(window, row, DevicesModel::Protocol), QStringLiteral("UDP"));
    QCOMPARE(cell(window, row, DevicesModel::LastFrame),
             QStringLiteral("not a frame: \"beta again\""));
    QVERIFY(viewText(dialog).find("beta") == std::string::npos);
    QCOMPARE(cell(window, 0, DevicesModel::Protocol), QStringLiteral("UDP"));
    QCOMPARE(cell(window, 0, DevicesModel::Address).toStdString(), a.local());

    // Chosen, b is the console's device, and a is served by the host again.
    window.table()->selectRow(row);
    QTest::mouseClick(window.chooseButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(countLines(dialog, "Now serving device " + b.local()), std::size_t{1},
                              kWaitMs);
    QVERIFY(b.send(frameOf("beta frame")));
    QTRY_VERIFY_WITH_TIMEOUT(viewText(dialog).find("beta frame") != std::string::npos, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(cell(window, rowOf(window, a.local()), DevicesModel::State),
                              QStringLiteral("connected"), kWaitMs);
}

void TestDevices::deviceBeyondTheBoundIsClosed()
{
    ConsoleTestEnvironment::settings()->setValue(QStringLiteral("Devices/MaxDevices"), 2);
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    const auto local = dialog.consoleHost().listen(host::DeviceHost::Tcp, loopbackPortZero());
    QVERIFY(local.ok());
    Device first(SOCK_STREAM, *local), second(SOCK_STREAM, *local);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.consoleHost().devices().snapshot().connected == 2, kWaitMs);
    Device beyond(SOCK_STREAM, *local);
    QCOMPARE(beyond.receive(), std::nullopt);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.consoleHost().devices().snapshot().refused, 1u, kWaitMs);
    QVERIFY(first.send(frameOf("still served")));
    QTRY_VERIFY_WITH_TIMEOUT(viewText(dialog).find("still served") != std::string::npos, kWaitMs);
}

void TestDevices::portInUseIsRefusedWithTheReason()
{
    LoopbackTcpServer taken;
    QVERIFY(taken.listening());
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    dialog.showDevicesWindow();
    app::DevicesWindow& window = *dialog.devicesWindow();
    const int loopbackItem = window.addressBox()->findData(QStringLiteral("127.0.0.1"));
    QVERIFY(loopbackItem >= 0);
    window.addressBox()->setCurrentIndex(loopbackItem);
    window.protocolBox()->setCurrentIndex(window.protocolBox()->findData(host::DeviceHost::Tcp));
    window.portSpin()->setValue(taken.port());
    QTest::mouseClick(window.listenButton(), Qt::LeftButton);
    QVERIFY2(window.statusText().contains(QStringLiteral("Address already in use")),
             qPrintable(window.statusText()));
    QVERIFY(window.listenButton()->isEnabled());
    QVERIFY(!window.stopButton()->isEnabled());
    QVERIFY(!dialog.consoleHost().listening());
    // The choice is remembered, in a section of its own.
    const auto settings = ConsoleTestEnvironment::settings();
    QCOMPARE(settings->value(QStringLiteral("Devices/Port")).toInt(), int(taken.port()));
    QCOMPARE(settings->value(QStringLiteral("Devices/Address")).toString(),
             QStringLiteral("127.0.0.1"));
}

void TestDevices::devicesWindowOpensFromTheViewsMenu()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    auto* view = qobject_cast<app::MessageView*>(dialog.control(ConsoleTemplate::kMessageView));
    QVERIFY(view);
    std::unique_ptr<QMenu> menu(view->createContextMenu());
    QAction* devices = nullptr;
    for (QAction* action : menu->actions())
        if (action->text() == QStringLiteral("Devices…"))
            devices = action;
    QVERIFY(devices);
    devices->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.devicesWindow() && dialog.devicesWindow()->isVisible(),
                             kWaitMs);
}

void TestDevices::automaticAnswersAnswerEveryDevice()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    check::AnswerRule ack;
    ack.name = "ack";
    ack.when.command = "EVT";
    ack.answer.fields = {"{media}", "{id}", "", "ACK", "{message}"};
    app::AnswerPanel& answers = dialog.commandsWindow()->answers();
    answers.setRules({ack});
    answers.setOn(true);
    const auto local = dialog.consoleHost().listen(host::DeviceHost::Both, loopbackPortZero());
    QVERIFY(local.ok());
    Device console(SOCK_STREAM, *local);
    QTRY_VERIFY_WITH_TIMEOUT(isConnectedState(dialog), kWaitMs);
    Device tcp(SOCK_STREAM, *local), udp(SOCK_DGRAM, *local);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.consoleHost().devices().snapshot().connected == 2, kWaitMs);

    const std::string acknowledged = protocol::wireBlock(
        protocol::composeFrame({"B", "07", "", "ACK", "door"}, protocol::DelimiterMode::Demo));
    for (Device* device : {&console, &tcp, &udp}) {
        QVERIFY(device->send(frameOf("door")));
        QCOMPARE(device->receive(), std::optional<std::string>(acknowledged));
    }
    // Off: the host's devices are answered no more.
    answers.setOn(false);
    QVERIFY(tcp.send(frameOf("door")));
    QCOMPARE(tcp.receive(300), std::optional<std::string>(std::string()));
}

void TestDevices::consolesOwnConnectionShowsItsTrueState()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    dialog.showDevicesWindow();
    app::DevicesWindow& window = *dialog.devicesWindow();
    std::string closedPort;
    {
        LoopbackTcpServer gone;
        closedPort = gone.portText();
    }
    clickConnect(dialog, closedPort);
    window.refresh();
    QCOMPARE(cell(window, 0, DevicesModel::State),
             QStringLiteral("console: refused (Connection refused)"));
    QCOMPARE(cell(window, 0, DevicesModel::Address).toStdString(), "127.0.0.1:" + closedPort);

    LoopbackTcpServer peer;
    QVERIFY(connectToTcpPeer(dialog, peer));
    window.refresh();
    QCOMPARE(cell(window, 0, DevicesModel::State), QStringLiteral("console: connected"));
    peer.closeConnection();
    QTRY_COMPARE_WITH_TIMEOUT((window.refresh(), cell(window, 0, DevicesModel::State)),
                              QStringLiteral("console: closed by the device"), kWaitMs);
    // The dialog keeps the state its connect gave it until Disconnect.
    QVERIFY(isConnectedState(dialog));
}

void TestDevices::stopKeepsTheDevicesAndCloseEndsThem()
{
    ConsoleDialog dialog;
    QVERIFY(ConsoleTestEnvironment::showActive(&dialog));
    const auto local = dialog.consoleHost().listen(host::DeviceHost::Tcp, loopbackPortZero());
    QVERIFY(local.ok());
    Device mine(SOCK_STREAM, *local), other(SOCK_STREAM, *local);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.consoleHost().devices().snapshot().connected == 2, kWaitMs);
    dialog.showDevicesWindow();
    QTest::mouseClick(dialog.devicesWindow()->stopButton(), Qt::LeftButton);
    QVERIFY(!dialog.consoleHost().listening());
    QCOMPARE(Device(SOCK_STREAM, *local).fd, -1); // refused now
    QVERIFY(other.send("still here"));
    QCOMPARE(other.receive(200), std::optional<std::string>(std::string()));
    QVERIFY(isConnectedState(dialog));

    click(dialog, ConsoleTemplate::kClose);
    QCOMPARE(mine.receive(), std::nullopt);
    QCOMPARE(other.receive(), std::nullopt);
}

QTEST_MAIN(TestDevices)
#include "tst_devices.moc"
