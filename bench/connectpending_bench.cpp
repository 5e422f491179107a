// The console while a connect hangs: the connect runs in the background, so
// the UI thread must stay responsive, and Disconnect or Close must end the
// attempt at once. The real console dialog (offscreen unless a display is
// there) connects to a loopback listener that drops SYNs; a timer probes how
// late the UI thread serves it, idle and with the connect pending. Prints the
// figures next to their goals and always exits 0.
//
// Usage: connectpending_bench [seconds]   (default 3; each probing phase)
// Its settings go to a temporary folder, never the user's.

#include "syndroppinglistener.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/console/ipv4addressedit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace
{

using app::ConsoleDialog;
using app::ConsoleTemplate;

constexpr int kProbeIntervalMs = 10;
constexpr double kLatencyGoalMs = 50.0; // at the 99th percentile
constexpr double kEndGoalMs = 200.0;    // Disconnect or Close during the attempt
constexpr int kEndRounds = 20;
constexpr int kExposeLimitMs = 5000;
constexpr int kSettleMs = 50; // the attempt runs a moment before it is ended

struct Lateness {
    double p50 = 0, p99 = 0, max = 0;
};

void spin(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// How late a 10 ms timer fires, in ms, over `seconds` of the event loop.
Lateness probe(int seconds)
{
    std::vector<double> late;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        late.push_back(std::max(0.0, (now - last) / 1e6 - kProbeIntervalMs));
        last = now;
    });
    timer.start(kProbeIntervalMs);
    spin(seconds * 1000);
    timer.stop();
    if (late.empty())
        return {};
    std::sort(late.begin(), late.end());
    const auto at = [&](double q) {
        return late[std::min(late.size() - 1, static_cast<std::size_t>(q * late.size()))];
    };
    return {at(0.5), at(0.99), late.back()};
}

std::unique_ptr<ConsoleDialog> openConsole(const SynDroppingListener& listener)
{
    auto dialog = std::make_unique<ConsoleDialog>();
    dialog->show();
    QElapsedTimer exposing;
    exposing.start();
    while (!(dialog->windowHandle() && dialog->windowHandle()->isExposed()) &&
           exposing.elapsed() < kExposeLimitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    qobject_cast<app::Ipv4AddressEdit*>(dialog->control(ConsoleTemplate::kServerAddress))
        ->setText(QStringLiteral("127.0.0.1"));
    qobject_cast<QLineEdit*>(dialog->control(ConsoleTemplate::kPortEdit))
        ->setText(QString::fromStdString(listener.portText()));
    return dialog;
}

void press(const ConsoleDialog& dialog, int id)
{
    qobject_cast<QPushButton*>(dialog.control(id))->click();
}

// The slowest of kEndRounds attempts ended by Disconnect (or by Close), in ms
// from the press until the attempt is gone; -1 when an attempt did not hang.
double slowestEnd(const SynDroppingListener& listener, bool byClose)
{
    double slowest = 0;
    auto dialog = openConsole(listener);
    for (int round = 0; round < kEndRounds; ++round) {
        if (byClose && !dialog->isVisible())
            dialog = openConsole(listener);
        press(*dialog, ConsoleTemplate::kConnect);
        spin(kSettleMs);
        if (!dialog->connectPending())
            return -1;
        QElapsedTimer ending;
        ending.start();
        if (byClose)
            dialog->close();
        else
            press(*dialog, ConsoleTemplate::kDisconnect);
        const double took = ending.nsecsElapsed() / 1e6;
        if (dialog->connectPending())
            return -1;
        slowest = std::max(slowest, took);
    }
    return slowest;
}

void printLine(const char* label, double value, const char* unit, const char* goal)
{
    std::printf("%-52s %8.2f %s  (%s)\n", label, value, unit, goal);
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir settings;
    if (!settings.isValid())
        return 0;
    ::setenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit().constData(), 1);
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    SynDroppingListener listener;
    if (!listener.dropsSyns()) {
        std::printf("this system takes connects beyond a full queue: nothing to measure\n");
        return 0;
    }

    auto dialog = openConsole(listener);
    const Lateness idle = probe(seconds);
    press(*dialog, ConsoleTemplate::kConnect);
    const Lateness pending = probe(seconds);
    const bool stillPending = dialog->connectPending();
    press(*dialog, ConsoleTemplate::kDisconnect);
    dialog.reset();

    const double disconnectMs = slowestEnd(listener, false);
    const double closeMs = slowestEnd(listener, true);

    std::printf("UI timer lateness, %d s each, probe every %d ms%s\n", seconds, kProbeIntervalMs,
                stillPending ? "" : " (the connect did not stay pending)");
    printLine("idle: p50", idle.p50, "ms", "reference");
    printLine("idle: p99", idle.p99, "ms", "reference");
    printLine("connect pending: p50", pending.p50, "ms", "reference");
    printLine("connect pending: p99", pending.p99, "ms", "goal < 50 ms");
    printLine("connect pending: max", pending.max, "ms", "reference");
    printLine("p99 pending / p99 idle", idle.p99 > 0 ? pending.p99 / idle.p99 : 0.0, "", "about 1");
    printLine("Disconnect abandons the attempt: slowest of 20", disconnectMs, "ms",
              "goal <= 200 ms");
    printLine("Close ends the console: slowest of 20", closeMs, "ms", "goal <= 200 ms");
    const bool met = stillPending && pending.p99 < kLatencyGoalMs && disconnectMs >= 0 &&
                     disconnectMs <= kEndGoalMs && closeMs >= 0 && closeMs <= kEndGoalMs;
    std::printf("goals %s\n", met ? "met" : "NOT met");
    return 0;
}
