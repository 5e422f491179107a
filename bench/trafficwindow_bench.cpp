// Flood benchmark of the Traffic window: a thread feeds 200,000 records in
// bursts into the window's queue, as the channel's watcher would in a flood,
// while the window is shown with "Follow newest" on and its table already
// full (the dearest case: every batch also drops the oldest rows), and the UI
// thread's responsiveness is measured: how late a 10 ms timer fires and how
// long a posted event waits. Runs without a filter and with a text filter
// (every record then goes through the filter), and times single drains of a
// 5,000-record batch with nothing else running. The window reads the frames
// in RELEASE mode, the mode of the sample frames, so every record is decoded
// for the Frames column (by the feeding thread, as the watcher would). Prints
// the figures next to the goals (p99 < 50 ms, memory < 200 MB) and always
// exits 0.
//
// Usage: trafficwindow_bench [records]   (default 200000)
// Without a display it runs on Qt's offscreen platform; run it under
// `xvfb-run -a` for a real X server.

#include "app/traffic/trafficfilter.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficqueue.h"
#include "app/traffic/trafficwindow.h"

#include "uilatencyprobe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kBurst = 2000;            // records per burst
constexpr auto kBurstPause = 10ms;      // between bursts: 200,000 records a second at most
constexpr auto kFeedLimit = 60s;        // the feed gives up after this, whatever it has sent
constexpr auto kSettleLimit = 10s;      // and the window gets this long to take the rest
constexpr double kLatencyGoalMs = 50.0; // at the 99th percentile
constexpr long kMemoryGoalMB = 200;     // RSS with the window full

// What a device and the console exchange: mostly frames received, now and
// then a frame sent and an event.
traffic::Record sampleRecord(int i)
{
    traffic::Record record;
    record.time = std::chrono::system_clock::now();
    if (i % 50 == 49) {
        record.kind = traffic::RecordKind::Event;
        record.text = "zero-length datagram";
        return record;
    }
    char frame[64];
    const int length = std::snprintf(frame, sizeof frame,
                                     "\x07"
                                     "A01data%06d\x08"
                                     "CMD\x09"
                                     "flood message\r\n",
                                     i);
    record.bytes.assign(frame, static_cast<std::size_t>(length));
    record.bytes += '\0';
    if (i % 10 == 9) {
        record.kind = traffic::RecordKind::Write;
        record.text = std::to_string(record.bytes.size()) + " bytes written";
    } else {
        record.kind = traffic::RecordKind::Read;
        record.text = "frame check: passed";
    }
    return record;
}

// Runs the UI thread's event loop until `done` or `limit`.
template <typename Done> void serveUntil(Done done, Clock::duration limit)
{
    const auto deadline = Clock::now() + limit;
    while (!done() && Clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct FeedResult {
    double feedSeconds = 0;  // the thread's time to hand over every record
    double shownSeconds = 0; // until the window had taken the last of them
    bool allTaken = false;
};

FeedResult feed(app::TrafficQueue& queue, app::TrafficWindow& window, UiLatencyProbe& probe,
                int records)
{
    FeedResult result;
    std::atomic<bool> fed{false};
    const std::uint64_t takenBefore =
        static_cast<std::uint64_t>(window.model().rowCount()) + window.model().droppedCount();
    const auto began = Clock::now();
    probe.start();
    std::thread feeder([&] {
        const auto deadline = Clock::now() + kFeedLimit;
        for (int i = 0; i < records && Clock::now() < deadline; i += kBurst) {
            for (int j = i; j < std::min(records, i + kBurst); ++j)
                queue.record(sampleRecord(j));
            std::this_thread::sleep_for(kBurstPause);
        }
        fed = true;
    });
    const auto taken = [&] {
        return static_cast<std::uint64_t>(window.model().rowCount()) +
                   window.model().droppedCount() - takenBefore >=
               static_cast<std::uint64_t>(records);
    };
    serveUntil([&] { return fed.load(); }, kFeedLimit + 5s);
    result.feedSeconds = std::chrono::duration<double>(Clock::now() - began).count();
    feeder.join();
    serveUntil(taken, kSettleLimit);
    result.shownSeconds = std::chrono::duration<double>(Clock::now() - began).count();
    result.allTaken = taken();
    probe.stop();
    return result;
}

void report(const char* label, const FeedResult& result, const UiLatencyProbe& probe,
            const app::TrafficWindow& window)
{
    std::printf("%s\n", label);
    printDistribution("UI latency, posted events:", probe.postedDelaysMs, 36, 2);
    printDistribution("UI timer lateness (10 ms timer):", probe.timerLatenessMs, 36, 2);
    std::printf("  %-36s %s\n", "goal p99 < 50 ms:",
                percentile(probe.postedDelaysMs, 99) < kLatencyGoalMs &&
                        percentile(probe.timerLatenessMs, 99) < kLatencyGoalMs
                    ? "met"
                    : "NOT met");
    std::printf("  %-36s fed in %.2f s, all in the table after %.2f s%s\n",
                "records:", result.feedSeconds, result.shownSeconds,
                result.allTaken ? "" : " (NOT all taken)");
    std::printf("  %-36s %d rows (%d shown by the filter), %llu dropped from memory\n",
                "window after the flood:", window.model().rowCount(), window.filter().rowCount(),
                static_cast<unsigned long long>(window.model().droppedCount()));
}

// Times window.drain() of 5,000 waiting records, called directly with no feed
// and no probe running.
void timeDrains(app::TrafficQueue& queue, app::TrafficWindow& window, const char* label)
{
    constexpr int kRounds = 20;
    constexpr int kBatch = 5000;
    std::vector<double> costs;
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < kBatch; ++i)
            queue.record(sampleRecord(round * kBatch + i));
        const auto began = Clock::now();
        window.drain();
        costs.push_back(toMs(Clock::now() - began));
        QCoreApplication::processEvents();
    }
    printDistribution(label, costs, 36, 2);
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The window remembers its "Record to file" switch; keep this run's
    // settings out of the user's.
    const QTemporaryDir config;
    if (config.isValid())
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication application(argc, argv);
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200000;

    app::TrafficQueue queue;
    app::TrafficWindow window(queue);
    window.setDelimiterMode(protocol::DelimiterMode::Release);
    window.show();
    QElapsedTimer exposing;
    exposing.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) &&
           exposing.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    std::printf("Traffic window flood: Qt platform \"%s\", %d records in bursts of %d every %lld "
                "ms, window bound %zu, Follow newest on\n",
                qPrintable(QGuiApplication::platformName()), records, kBurst,
                static_cast<long long>(kBurstPause.count()), window.model().maxRecords());
    // Fill the table first, so that what is measured is the steady state.
    for (int i = 0; i < static_cast<int>(window.model().maxRecords()); ++i)
        queue.record(sampleRecord(i));
    serveUntil(
        [&] { return window.model().rowCount() == static_cast<int>(window.model().maxRecords()); },
        kSettleLimit);
    timeDrains(queue, window, "drain of 5000 records, full table:");

    UiLatencyProbe probe;
    const FeedResult plain = feed(queue, window, probe, records);
    report("no filter:", plain, probe, window);

    window.findChild<QLineEdit*>(QStringLiteral("trafficFilterText"))
        ->setText(QStringLiteral("data00"));
    const FeedResult filtered = feed(queue, window, probe, records);
    report("text filter \"data00\" (every record searched):", filtered, probe, window);
    timeDrains(queue, window, "drain of 5000 records, text filter:");

    const long rssMB = statusKb("VmRSS:") / 1024;
    std::printf("%-38s %ld MB now (goal < %ld MB: %s), %ld MB peak; the window holds %.1f MiB "
                "of bytes, texts and frames\n",
                "memory (RSS):", rssMB, kMemoryGoalMB, rssMB < kMemoryGoalMB ? "met" : "NOT met",
                statusKb("VmHWM:") / 1024,
                static_cast<double>(window.model().heldBytes()) / (1 << 20));
    return 0;
}
