// Draws the Traffic window with a short sample session and saves it as a PNG
// (the README's pictures). Run by hand under a virtual X server:
//   xvfb-run -a build/default/tests/app/trafficscreenshot docs/traffic.png
//   xvfb-run -a build/default/tests/app/trafficscreenshot docs/traffic-frames.png frames
// The second draws a DEMO session made to show the Frames column: frames
// merged in one read, one split over two reads, bytes that are no frame.
// Its settings go to a temporary folder, never the user's.

#include "app/traffic/trafficqueue.h"
#include "app/traffic/trafficwindow.h"
#include "traffic/recordfacts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <string>

namespace
{

using traffic::RecordKind;

void add(app::TrafficQueue& queue, std::chrono::system_clock::time_point& at, int micros,
         RecordKind kind, std::string bytes, std::string text)
{
    at += std::chrono::microseconds(micros);
    const traffic::RecordFacts facts = traffic::recordFacts(kind, text);
    queue.record(traffic::Record{at, kind, std::move(bytes), std::move(text), facts});
}

void fill(app::TrafficQueue& queue)
{
    auto at = std::chrono::system_clock::now() - std::chrono::seconds(20);
    const std::string demo("[BA139123439=ENT-Message / Description\r\n\0", 41);
    const std::string release("\x07"
                              "BA139123439\x08"
                              "ENT\x09"
                              "Message / Description\r\n\0",
                              41);
    add(queue, at, 0, RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21211");
    add(queue, at, 212, RecordKind::ConnectFailed, {}, "Connection refused after 0 ms");
    add(queue, at, 4105322, RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21210");
    add(queue, at, 187, RecordKind::Connected, {}, "127.0.0.1:40312");
    add(queue, at, 2511874, RecordKind::Write, demo, "41 bytes written");
    add(queue, at, 1406, RecordKind::Read, demo.substr(0, 40), "frame ok");
    add(queue, at, 3012457, RecordKind::Write, release, "41 bytes written");
    add(queue, at, 1288, RecordKind::Read, release.substr(0, 40) + release.substr(0, 12),
        "frame ok");
    add(queue, at, 803, RecordKind::Read, release.substr(12, 28),
        "no frame: start delimiter missing");
    add(queue, at, 2203115, RecordKind::Write, std::string("PING\r\n\0", 7), "7 bytes written");
    add(queue, at, 913, RecordKind::Event, {}, "Connection closed by the peer");
    add(queue, at, 41, RecordKind::Disconnect, {}, "Disconnected");
}

void fillFrames(app::TrafficQueue& queue)
{
    auto at = std::chrono::system_clock::now() - std::chrono::seconds(20);
    const std::string lineEnd("\r\n\0", 3);
    const std::string open = "[BA139123439=ENT-Open" + lineEnd;
    const std::string granted = "[BA139123439=ACK-Access granted" + lineEnd;
    const std::string door = "[DA2=STA-Door 2 closed" + lineEnd;
    add(queue, at, 0, RecordKind::ConnectAttempt, {}, "TCP 127.0.0.1:21210");
    add(queue, at, 187, RecordKind::Connected, {}, "127.0.0.1:40312");
    add(queue, at, 2511874, RecordKind::Write, open, "24 bytes written");
    add(queue, at, 1406, RecordKind::Read, granted + door, "frame ok");
    add(queue, at, 3012457, RecordKind::Write, open, "24 bytes written");
    add(queue, at, 1288, RecordKind::Read, granted.substr(0, 14), "no frame: line end missing");
    add(queue, at, 803, RecordKind::Read, granted.substr(14), "no frame: start delimiter missing");
    add(queue, at, 2203115, RecordKind::Write, "PING" + lineEnd, "7 bytes written");
    add(queue, at, 1102, RecordKind::Read, "PONG\r\n" + door, "frame ok");
    add(queue, at, 913, RecordKind::Event, {}, "Connection closed by the peer");
    add(queue, at, 41, RecordKind::Disconnect, {}, "Disconnected");
}

} // namespace

int main(int argc, char** argv)
{
    const QTemporaryDir config;
    if (!config.isValid() || argc < 2) {
        std::fprintf(stderr, "usage: trafficscreenshot FILE.png [frames]\n");
        return 2;
    }
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication application(argc, argv);

    app::TrafficQueue queue;
    app::TrafficWindow window(queue);
    const bool frames = argc > 2 && std::string(argv[2]) == "frames";
    if (frames)
        fillFrames(queue);
    else
        fill(queue);
    window.drain();
    window.setRecordingStatus([] { return QStringLiteral("Not recording to a file."); });
    window.resize(frames ? 1280 : 1040, 560);
    window.show();
    auto* table = window.findChild<QTableView*>(QStringLiteral("trafficTable"));
    table->selectRow(frames ? 3 : 7);
    QElapsedTimer exposing;
    exposing.start();
    while (exposing.elapsed() < 1500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
