// The console as the host of devices that call in: 1000 devices of the
// benchmark's own dial the console's Devices listener on loopback (2000 dials
// a second, so all within about a second), then each sends a card-presented
// event (command EVT) once a second, which the console's automatic answers
// acknowledge (command ACK), each device within its own bound. Measured for
// the run: how responsive the UI thread stays (p99, goal under 50 ms), that
// every event was answered, the answers' latency at the devices (p99, goal
// under 5 ms), the process's memory (RSS, goal under 250 MB) and its threads
// (the same count with 1000 devices as with one).
//
// Usage: hostmode_bench [seconds] [devices]   (defaults 10 and 1000)
// Without a display it runs on Qt's offscreen platform.

#include "dialingfleet.h"
#include "eventpump.h"
#include "uilatencyprobe.h"

#include "app/commands/answerpanel.h"
#include "app/commands/commandswindow.h"
#include "app/console/consoledialog.h"
#include "app/devices/consolehost.h"

#include "protocol/commandframe.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace
{

using namespace std::chrono_literals;

constexpr double kUiGoalMs = 50.0;
constexpr double kAnswerGoalMs = 5.0;
constexpr long kMemoryGoalMB = 250;

int threadCount()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    return 0;
}

std::string eventFrame(int index)
{
    static constexpr char kDigits[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const std::string id{kDigits[(index / 62) % 62], kDigits[index % 62]};
    return protocol::wireBlock(protocol::composeFrame(
        {"C", id, std::to_string(1000000000 + index), "EVT", "card presented"},
        protocol::DelimiterMode::Demo));
}

const char* verdict(bool met)
{
    return met ? "met" : "missed";
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!home.isValid()) {
        std::printf("no temporary folder; no figures\n");
        return 0;
    }
    useRunFolderAndPlatform(home.path().toStdString());
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    const int devices = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;

    app::ConsoleDialog dialog;
    dialog.show();
    check::AnswerRule ack;
    ack.name = "acknowledge";
    ack.when.command = "EVT";
    ack.answer.fields = {"{media}", "{id}", "{data}", "ACK", "ok"};
    dialog.showCommandsWindow();
    app::AnswerPanel& answers = dialog.commandsWindow()->answers();
    answers.setRules({ack});
    answers.setOn(true);
    const auto local = dialog.consoleHost().listen(host::DeviceHost::Tcp,
                                                   *net::Endpoint::fromNumeric("127.0.0.1", 0));
    if (!local) {
        std::printf("cannot listen: %s\n", local.error().text().c_str());
        return 1;
    }
    // One device first: it becomes the console's device (its connection has
    // the console's watcher thread); the threads are counted with it.
    DialingFleet::Settings first;
    first.host = *local;
    first.devices = 1;
    DialingFleet one(first);
    one.start();
    pumpUntil([&] { return one.connected() == 1; }, 10s);
    serveFor(300ms);
    const int threadsBefore = threadCount() - 1; // the first device's own loop thread

    DialingFleet::Settings settings;
    settings.host = *local;
    settings.devices = devices;
    settings.eventsPerSecond = 1;
    settings.eventFrame = &eventFrame;
    DialingFleet fleet(settings);
    UiLatencyProbe probe;
    probe.start();
    fleet.start();
    const bool allIn = pumpUntil([&] { return fleet.connected() >= devices; }, 30s);
    const double connectSeconds = fleet.allConnectedAfter().count();
    serveFor(std::chrono::seconds(seconds));
    const int threadsDuring = threadCount() - 3; // the fleets' loop threads, the probe's poster
    const long rssMB = statusKb("VmRSS:") / 1024;
    probe.stop();
    fleet.stop();
    one.stop();
    // Each device's last event may still be on its way: it is left out.
    const long sent = fleet.eventsSent();
    const long answered = fleet.answered();
    const std::vector<double> latencies = fleet.latenciesMs();

    std::printf("Host mode benchmark: Qt platform \"%s\", %d devices, %d s of one event a second "
                "each\n",
                qPrintable(QGuiApplication::platformName()), devices, seconds);
    std::printf("%-44s %d of %d in %.2f s%s\n", "devices connected:", fleet.connected(), devices,
                connectSeconds, allIn ? "" : " (not all)");
    printDistribution("UI latency, posted events:", probe.postedDelaysMs, 44, 2);
    printDistribution("answer latency at the devices:", latencies, 44, 2);
    const double uiP99 = percentile(probe.postedDelaysMs, 99);
    const double answerP99 = percentile(latencies, 99);
    const bool everyAnswered = answered >= sent - devices && sent > 0;
    std::printf("\nSummary: UI p99 %.2f ms (goal < %.0f ms, %s); events %ld, answered %ld (every "
                "event but the last in flight per device: %s); answer p99 %.2f ms (goal < %.0f "
                "ms, %s); RSS %ld MB (goal < %ld MB, %s); threads %d with one device, %d with all "
                "(%s)\n",
                uiP99, kUiGoalMs, verdict(uiP99 < kUiGoalMs), sent, answered,
                verdict(everyAnswered), answerP99, kAnswerGoalMs,
                verdict(answerP99 < kAnswerGoalMs), rssMB, kMemoryGoalMB,
                verdict(rssMB < kMemoryGoalMB), threadsBefore, threadsDuring,
                threadsDuring <= threadsBefore ? "flat" : "grew");
    return 0;
}
