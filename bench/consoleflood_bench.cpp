// Flood benchmark through the whole console: a loopback TCP peer sends frames
// as fast as it can to the console dialog, connected as the operator connects
// it, with the Traffic window open (following the newest records, its Frames
// column decoding every frame), once without recording to files, once
// recording text files and once recording pcapng files. Measures how
// responsive the UI thread stays, what the console takes in, how long
// Disconnect takes and how much memory the process uses. Prints the figures
// next to the goals, then a summary line per flood, and always exits 0.
// Settings and record files go to a temporary folder.
//
// The Traffic window's goals: UI latency p99 under 50 ms and the process's
// memory (RSS, at the end of the flood, the window full) under 200 MB; the
// same flood without the window is measured first, for comparison. Each
// flood starts with the memory the previous ones freed given back.
//
// Usage: consoleflood_bench [seconds]   (default 10; each flood's length)
// Without a display it runs on Qt's offscreen platform.

#include "eventpump.h"
#include "floodpeer.h"
#include "uilatencyprobe.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/console/ipv4addressedit.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficwindow.h"

#include "traffic/filerecorder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace
{

using app::ConsoleTemplate;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kLatencyGoalMs = 50.0; // at the 99th percentile
constexpr long kMemoryGoalMB = 200;     // RSS with the Traffic window full
constexpr double kDisconnectGoalMs = 200.0;
constexpr auto kStepLimit = 10s; // connecting, disconnecting
constexpr auto kPeerGrace = 5s;  // the peer outlives the flood by at most this

bool enabled(const app::ConsoleDialog& dialog, int id)
{
    return dialog.control(id)->isEnabled();
}

void click(app::ConsoleDialog& dialog, int id)
{
    qobject_cast<QAbstractButton*>(dialog.control(id))->click();
}

struct Flood {
    const char* label;
    bool trafficWindow;
    std::optional<traffic::FileRecorder::Format> recording;
};

const Flood kFloods[] = {
    {"Traffic window closed, no recording (for comparison)", false, std::nullopt},
    {"Traffic window open, no recording", true, std::nullopt},
    {"Traffic window open, recording text files", true, traffic::FileRecorder::Format::Text},
    {"Traffic window open, recording pcapng files", true, traffic::FileRecorder::Format::Pcapng},
};

struct Figures {
    double p99Ms = -1; // negative: not measured
    long rssMB = 0;
};

const char* verdict(bool met)
{
    return met ? "met" : "NOT met";
}

// One flood of `limit` into a fresh console; prints its figures.
Figures floodConsole(Clock::duration limit, const Flood& flood)
{
    const bool trafficWindow = flood.trafficWindow;
    const bool recordToFiles = flood.recording.has_value();
    std::printf("\n%s:\n", flood.label);
    ::malloc_trim(0);
    app::ConsoleDialog dialog;
    dialog.show();
    FloodPeer peer;
    if (peer.port() == 0) {
        std::printf("  could not listen on 127.0.0.1; no figures\n");
        return {};
    }
    peer.start(limit + kPeerGrace);
    click(dialog, ConsoleTemplate::kTcpRadio);
    qobject_cast<app::Ipv4AddressEdit*>(dialog.control(ConsoleTemplate::kServerAddress))
        ->setText(QStringLiteral("127.0.0.1"));
    qobject_cast<QLineEdit*>(dialog.control(ConsoleTemplate::kPortEdit))
        ->setText(QString::fromStdString(peer.portText()));
    if (trafficWindow)
        dialog.showTrafficWindow();
    if (recordToFiles) {
        traffic::FileRecorder::Options files = dialog.trafficRecording().fileOptions();
        files.format = *flood.recording;
        dialog.trafficRecording().setFileOptions(files);
    }
    dialog.trafficRecording().setRecordingEnabled(recordToFiles);
    click(dialog, ConsoleTemplate::kConnect);
    if (!pumpUntil([&] { return enabled(dialog, ConsoleTemplate::kSendMessage); }, kStepLimit)) {
        std::printf("  could not connect to the loopback peer; no figures\n");
        return {};
    }

    UiLatencyProbe probe;
    probe.start();
    const std::uint64_t sentBefore = peer.bytesSent();
    const auto began = Clock::now();
    serveFor(limit);
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    const std::uint64_t sent = peer.bytesSent() - sentBefore;
    probe.stop();
    const long rssMB = statusKb("VmRSS:") / 1024;

    QElapsedTimer disconnecting;
    disconnecting.start();
    click(dialog, ConsoleTemplate::kDisconnect);
    const double disconnectMs = static_cast<double>(disconnecting.nsecsElapsed()) / 1e6;
    const bool ended =
        pumpUntil([&] { return enabled(dialog, ConsoleTemplate::kConnect); }, kStepLimit);
    peer.join();

    printDistribution("UI latency, posted events:", probe.postedDelaysMs, 38, 2);
    printDistribution("UI timer lateness (10 ms timer):", probe.timerLatenessMs, 38, 2);
    const double p99 = percentile(probe.postedDelaysMs, 99);
    std::printf("  %-38s %.2f ms  (goal < %.0f ms: %s)\n", "UI latency p99:", p99, kLatencyGoalMs,
                verdict(p99 < kLatencyGoalMs));
    std::printf("  %-38s %.2f MB/s  (what the peer got out; TCP holds it to the console's "
                "reading)\n",
                "intake:", static_cast<double>(sent) / seconds / 1e6);
    if (const app::TrafficWindow* window = dialog.trafficWindow())
        std::printf("  %-38s %d rows, %.1f MiB of bytes, texts and frames, %llu dropped\n",
                    "Traffic window after the flood:", window->model().rowCount(),
                    static_cast<double>(window->model().heldBytes()) / (1 << 20),
                    static_cast<unsigned long long>(window->model().droppedCount()));
    if (recordToFiles)
        std::printf("  %-38s %s\n", "recording:", dialog.trafficRecording().statusText().c_str());
    std::printf("  %-38s %.1f ms  (goal < %.0f ms: %s)%s\n",
                "Disconnect during the flood:", disconnectMs, kDisconnectGoalMs,
                disconnectMs < kDisconnectGoalMs ? "met" : "NOT met",
                ended ? "" : "; the console did not return to Disconnected");
    std::printf("  %-38s %ld MB at the flood's end  (goal < %ld MB with the window open: %s), "
                "%ld MB peak so far\n",
                "memory (RSS):", rssMB, kMemoryGoalMB, verdict(rssMB < kMemoryGoalMB),
                statusKb("VmHWM:") / 1024);
    dialog.trafficRecording().setRecordingEnabled(false);
    return {p99, rssMB};
}

} // namespace

int main(int argc, char** argv)
{
    // Settings and record files of this run only.
    QTemporaryDir home;
    if (!home.isValid()) {
        std::printf("no temporary folder; no figures\n");
        return 0;
    }
    const std::string folder = home.path().toStdString();
    useRunFolderAndPlatform(folder);
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    std::printf("Console flood benchmark: Qt platform \"%s\", %d s floods on 127.0.0.1\n",
                qPrintable(QGuiApplication::platformName()), seconds);
    std::vector<Figures> figures;
    for (const Flood& flood : kFloods)
        figures.push_back(floodConsole(std::chrono::seconds(seconds), flood));
    // The Traffic window keeps the newest TrafficModel::kMaxRecords records
    // within TrafficModel::kMaxBytes, so its memory is of that order.
    const long nowMB = statusKb("VmRSS:") / 1024;
    // What the consoles freed and the allocator kept for later, given back:
    // what stays is what is still in use.
    ::malloc_trim(0);
    std::printf("\n%-40s %ld MB now (%ld MB once freed memory is given back), %ld MB peak  (for "
                "information: the Traffic window holds up to %zu records and %zu MiB)\n",
                "memory (RSS):", nowMB, statusKb("VmRSS:") / 1024, statusKb("VmHWM:") / 1024,
                app::TrafficModel::kMaxRecords, app::TrafficModel::kMaxBytes >> 20);

    std::printf("\nSummary (goals with the Traffic window open: UI p99 < %.0f ms, RSS < %ld MB):\n",
                kLatencyGoalMs, kMemoryGoalMB);
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figures& f = figures[i];
        if (f.p99Ms < 0) {
            std::printf("  %-52s no figures\n", kFloods[i].label);
            continue;
        }
        const bool goals = kFloods[i].trafficWindow;
        std::printf("  %-52s p99 %6.2f ms %-9s RSS %4ld MB %s\n", kFloods[i].label, f.p99Ms,
                    goals ? verdict(f.p99Ms < kLatencyGoalMs) : "", f.rssMB,
                    goals ? verdict(f.rssMB < kMemoryGoalMB) : "");
    }
    return 0;
}
