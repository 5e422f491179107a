// Draws the console with its Traffic and Commands windows where they open
// beside it, a few saved commands and an answer rule in the list, and saves
// them as one PNG (the README's picture). Run by hand under a virtual X
// server of a 1920x1080 screen:
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/default/tests/app/commandsscreenshot
//   docs/commands.png
// Its settings and list go to a temporary folder, never the user's.

#include "app/commands/commandswindow.h"
#include "app/console/consoledialog.h"
#include "app/traffic/trafficwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>

namespace
{

// A list as the window writes it: one named send step per saved command.
constexpr const char* kCommands =
    "[[step]]\nname = \"Open door 1\"\n"
    "send = { media = \"B\", id = \"A1\", data = \"39123439\", command = \"ENT\", "
    "message = \"Open\" }\n"
    "[[step]]\nname = \"Status\"\nsend = { media = \"B\", id = \"A1\", command = \"STA\" }\n"
    "[[step]]\nname = \"Beep twice\"\nsend = { media = \"C\", id = \"07\", data = \"2\", "
    "command = \"BEP\" }\n"
    "[[step]]\nname = \"Ping\"\nsend = { text = \"PING\" }\n"
    "[[answer]]\nname = \"ack events\"\nwhen = { command = \"EVT\" }\n"
    "send = { media = \"{media}\", id = \"{id}\", command = \"ACK\" }\n";

void settle(int ms)
{
    QElapsedTimer exposing;
    exposing.start();
    while (exposing.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

} // namespace

int main(int argc, char** argv)
{
    const QTemporaryDir home;
    if (!home.isValid() || argc < 2) {
        std::fprintf(stderr, "usage: commandsscreenshot FILE.png\n");
        return 2;
    }
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    QApplication application(argc, argv);

    const QString list = QString::fromStdString(app::CommandsWindow::defaultPath());
    QDir().mkpath(QFileInfo(list).path());
    QFile out(list);
    if (!out.open(QIODevice::WriteOnly) || out.write(kCommands) < 0)
        return 1;
    out.close();

    app::ConsoleDialog console;
    console.show();
    settle(500);
    console.showTrafficWindow();
    console.showCommandsWindow();
    app::CommandsWindow& window = *console.commandsWindow();
    QWidget& traffic = *console.trafficWindow();
    settle(1500);

    // The windows on one picture, where they stand on the screen.
    const QRect whole = console.geometry().united(window.geometry()).united(traffic.geometry());
    QPixmap picture(whole.size());
    picture.fill(console.palette().color(QPalette::Dark));
    QPainter painter(&picture);
    for (QWidget* shown :
         {static_cast<QWidget*>(&console), &traffic, static_cast<QWidget*>(&window)})
        painter.drawPixmap(shown->geometry().topLeft() - whole.topLeft(), shown->grab());
    painter.end();
    if (!picture.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
