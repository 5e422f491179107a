// Draws the console with its Devices window beside it, holding several
// devices that called in (TCP and UDP, one of them the console's device),
// and saves them side by side as one PNG (the README's picture). Run by hand:
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/default/tests/app/devicesscreenshot
//   docs/devices.png
// Its settings go to a temporary folder, never the user's; the devices are
// sockets of its own on 127.0.0.1.

#include "app/console/consoledialog.h"
#include "app/devices/consolehost.h"
#include "app/devices/deviceswindow.h"

#include "protocol/commandframe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QTableView>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

void settle(int ms)
{
    QElapsedTimer exposing;
    exposing.start();
    while (exposing.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

int dial(int type, const net::Endpoint& host)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, host.address(), host.length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string event(const char* id, const char* data, const char* message)
{
    return protocol::wireBlock(
        protocol::composeFrame({"B", id, data, "EVT", message}, protocol::DelimiterMode::Demo));
}

} // namespace

int main(int argc, char** argv)
{
    const QTemporaryDir home;
    if (!home.isValid() || argc < 2) {
        std::fprintf(stderr, "usage: devicesscreenshot FILE.png\n");
        return 2;
    }
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    QApplication application(argc, argv);

    app::ConsoleDialog console;
    console.show();
    settle(300);
    const auto local = console.consoleHost().listen(host::DeviceHost::Both,
                                                    *net::Endpoint::parseListen("127.0.0.1:21210"));
    if (!local) {
        std::fprintf(stderr, "cannot listen: %s\n", local.error().text().c_str());
        return 1;
    }
    console.showDevicesWindow();
    std::vector<int> devices;
    const char* ids[] = {"A1", "A2", "B7", "C3"};
    const char* messages[] = {"Door 1", "Gate", "Lift", "Car park"};
    for (int i = 0; i < 4; ++i) {
        devices.push_back(dial(SOCK_STREAM, *local));
        settle(150);
        const std::string frame = event(ids[i], "39123439", messages[i]);
        static_cast<void>(::send(devices.back(), frame.data(), frame.size(), MSG_NOSIGNAL));
    }
    for (int i = 0; i < 2; ++i) {
        devices.push_back(dial(SOCK_DGRAM, *local));
        const std::string frame = event(i == 0 ? "U1" : "U2", "0412", "Barrier");
        static_cast<void>(::send(devices.back(), frame.data(), frame.size(), MSG_NOSIGNAL));
    }
    settle(800);
    app::DevicesWindow& window = *console.devicesWindow();
    window.refresh();
    window.table()->resizeColumnsToContents();
    window.table()->horizontalHeader()->setStretchLastSection(true);
    // Right beside the console, so that the picture holds nothing else.
    window.resize(1180, console.height());
    window.move(console.geometry().right() + 8, console.geometry().top());
    settle(500);

    const QRect whole = console.geometry().united(window.geometry());
    QPixmap picture(whole.size());
    picture.fill(console.palette().color(QPalette::Dark));
    QPainter painter(&picture);
    for (QWidget* shown : {static_cast<QWidget*>(&console), static_cast<QWidget*>(&window)})
        painter.drawPixmap(shown->geometry().topLeft() - whole.topLeft(), shown->grab());
    painter.end();
    for (const int fd : devices)
        ::close(fd);
    if (!picture.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
