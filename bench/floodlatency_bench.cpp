// Flood benchmark of the console's receive path as the operator sees it: a
// loopback TCP peer sends frames as fast as it can into a MessageViewChannel
// bound to a visible MessageView, while the UI thread's responsiveness is
// measured. The intake is set against the same channel and stream without a
// GUI (a view that only counts), measured in the same run. Prints the figures
// and always exits 0; the goals are printed next to them.
//
// Usage: floodlatency_bench [seconds]   (default 10; the flood's length)
// Without a display it runs on Qt's offscreen platform; run it under
// `xvfb-run -a` for a real X server.

#include "countingviewwindow.h"
#include "eventpump.h"
#include "floodpeer.h"
#include "uilatencyprobe.h"
#include "viewappendcosts.h"

#include "app/view/messageview.h"
#include "app/view/qtviewwindow.h"

#include "protocol/delimiterset.h"
#include "protocol/messageviewchannel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPeerGrace = 5s;             // the peer outlives the flood by at most this
constexpr double kLatencyGoalMs = 50.0;     // at the 99th percentile
constexpr double kIntakeGoalMBs = 20.0;     // taken in by the view window, MB/s
constexpr double kDisconnectGoalMs = 200.0; // stop with appends suspended
constexpr long kMemoryGoalMB = 150;         // peak RSS
constexpr int kShortFloods = 3;             // floods ended with suspended appends
constexpr auto kShortFlood = 1s;
// How long the same stream runs into a view that only counts.
constexpr auto kNoGuiFlood = 3s;

// The view window that counts what reached the view and what was dropped.
class CountingQtViewWindow : public app::QtViewWindow
{
public:
    using QtViewWindow::QtViewWindow;
    std::atomic<std::uint64_t> placedBytes{0};
    std::atomic<std::uint64_t> placed{0};
    std::atomic<std::uint64_t> dropped{0};

    bool appendText(std::string_view text, std::uint32_t timeoutMs) override
    {
        const bool ok = QtViewWindow::appendText(text, timeoutMs);
        if (ok) {
            placedBytes += text.size();
            ++placed;
        } else {
            ++dropped;
        }
        return ok;
    }
};

struct FloodResult {
    double seconds = 0;
    std::uint64_t sent = 0;
    std::uint64_t placedBytes = 0;
    std::uint64_t placed = 0;
    std::uint64_t dropped = 0;
    double stopMs = 0;
    bool connected = false;
};

// One connection: floods for `limit`, then stops the channel while the peer is
// still sending, with appends suspended around the stop or not.
FloodResult flood(protocol::MessageViewChannel& channel, CountingQtViewWindow& window,
                  UiLatencyProbe* probe, Clock::duration limit, bool suspendAroundStop)
{
    FloodResult result;
    FloodPeer peer;
    if (peer.port() == 0)
        return result;
    peer.start(limit + kPeerGrace);
    const std::string port = std::to_string(peer.port());
    if (!channel.openClient("127.0.0.1", port.c_str(), AF_INET, SOCK_STREAM) ||
        !channel.startWatcher()) {
        channel.stop();
        return result;
    }
    result.connected = true;
    const std::uint64_t placedBefore = window.placedBytes, appendsBefore = window.placed,
                        droppedBefore = window.dropped;

    if (probe)
        probe->start();
    const auto began = Clock::now();
    serveFor(limit);
    result.seconds = std::chrono::duration<double>(Clock::now() - began).count();
    if (probe)
        probe->stop();

    QElapsedTimer stopping;
    stopping.start();
    if (suspendAroundStop)
        window.setAppendsSuspended(true);
    channel.stop();
    if (suspendAroundStop)
        window.setAppendsSuspended(false);
    result.stopMs = static_cast<double>(stopping.nsecsElapsed()) / 1e6;

    peer.join();
    QCoreApplication::sendPostedEvents();
    result.sent = peer.bytesSent();
    result.placedBytes = window.placedBytes - placedBefore;
    result.placed = window.placed - appendsBefore;
    result.dropped = window.dropped - droppedBefore;
    return result;
}

// The same stream for `limit` into a channel bound to a view that only
// counts: the receive path without a GUI. Bytes taken per second; 0 without
// a loopback connection.
double noGuiIntake(Clock::duration limit)
{
    FloodPeer peer;
    CountingViewWindow counting;
    protocol::DelimiterSet delimiters;
    protocol::MessageViewChannel channel(delimiters);
    channel.setView(&counting);
    if (peer.port() == 0)
        return 0;
    peer.start(limit);
    const std::string port = std::to_string(peer.port());
    if (!channel.openClient("127.0.0.1", port.c_str(), AF_INET, SOCK_STREAM) ||
        !channel.startWatcher()) {
        channel.stop();
        return 0;
    }
    const auto began = Clock::now();
    // The peer closes when its time is up, which ends the watcher with the
    // drop event.
    counting.waitForPosts(1, std::chrono::duration_cast<std::chrono::milliseconds>(limit) +
                                 FloodPeer::kAcceptLimit);
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    channel.stop();
    peer.join();
    return static_cast<double>(counting.bytes()) / seconds;
}

// Follows the frame numbers of the flood through the view's lines: each line
// holds the frame after the one before (the peer's stream starts again at 0
// now and then). Lines the view cut at kMaxLineLength or that hold no frame
// number are skipped. Returns the number of lines out of step.
int framesOutOfStep(const std::string& content)
{
    constexpr std::string_view kMark = "[A01data";
    int outOfStep = 0;
    long previous = -1;
    std::size_t at = 0;
    while (at < content.size()) {
        std::size_t end = content.find('\n', at);
        if (end == std::string::npos)
            end = content.size();
        const std::string_view line(content.data() + at, end - at);
        at = end + 1;
        if (line.rfind(kMark, 0) != 0 || line.size() < kMark.size() + 6)
            continue;
        const long number = std::atol(std::string(line.substr(kMark.size(), 6)).c_str());
        if (previous >= 0 && number != previous + 1 && number != 0)
            ++outOfStep;
        previous = number;
    }
    return outOfStep;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    QWidget console;
    auto* layout = new QVBoxLayout(&console);
    auto* view = new app::MessageView(&console);
    layout->addWidget(view);
    console.resize(800, 500);
    console.show();
    QElapsedTimer exposing;
    exposing.start();
    while (!(console.windowHandle() && console.windowHandle()->isExposed()) &&
           exposing.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    protocol::DelimiterSet delimiters; // DEMO
    CountingQtViewWindow window(view, &console);
    protocol::MessageViewChannel channel(delimiters);
    channel.setView(&window);
    UiLatencyProbe probe;

    std::printf("Flood latency benchmark: Qt platform \"%s\", %d s flood on 127.0.0.1\n",
                qPrintable(QGuiApplication::platformName()), seconds);
    const FloodResult main = flood(channel, window, &probe, std::chrono::seconds(seconds), false);
    if (!main.connected) {
        std::printf("could not set up the loopback flood; no figures\n");
        return 0;
    }
    printDistribution("UI latency, posted events:", probe.postedDelaysMs);
    printDistribution("UI timer lateness (10 ms timer):", probe.timerLatenessMs);
    const double p99 = percentile(probe.postedDelaysMs, 99);
    std::printf("%-40s %.2f ms  (goal < %.0f ms: %s)\n", "UI latency p99:", p99, kLatencyGoalMs,
                p99 < kLatencyGoalMs ? "met" : "NOT met");

    const double intake = static_cast<double>(main.placedBytes) / main.seconds / 1e6;
    std::printf("%-40s %.2f MB/s taken in (%.2f MB/s sent), %llu appends placed, %llu dropped\n",
                "intake:", intake, static_cast<double>(main.sent) / main.seconds / 1e6,
                static_cast<unsigned long long>(main.placed),
                static_cast<unsigned long long>(main.dropped));
    std::printf("%-40s %.2f MB/s  (goal >= %.0f MB/s: %s)\n", "intake goal:", intake,
                kIntakeGoalMBs, intake >= kIntakeGoalMBs ? "met" : "NOT met");
    // What was taken in and is still pending in the view shows over the next
    // frames; the view's figures below are for when it has.
    QElapsedTimer catchingUp;
    catchingUp.start();
    while (view->pendingChars() > 0 && catchingUp.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::printf("%-40s %lld ms after the flood (%.1f MB of the %.1f MB taken in never shown: "
                "the view's limits dropped them while they were pending)\n",
                "view caught up:", static_cast<long long>(catchingUp.elapsed()),
                static_cast<double>(view->charsNeverShown()) / 1e6,
                static_cast<double>(main.placedBytes) / 1e6);
    const int lines = view->document()->blockCount();
    const int chars = view->document()->characterCount() - 1;
    const bool bounded =
        lines <= app::MessageView::kMaxLines && chars <= app::MessageView::kMaxChars;
    std::printf("%-40s %d lines, %d chars  (bound %d lines, %d chars: %s)\n",
                "view after the flood:", lines, chars, app::MessageView::kMaxLines,
                app::MessageView::kMaxChars, bounded ? "kept" : "NOT kept");
    std::printf("%-40s %d lines out of step with %llu appends dropped\n",
                "frame order in the view:", framesOutOfStep(view->contentBytes()),
                static_cast<unsigned long long>(main.dropped));
    std::printf("%-40s %.1f ms  (bound %u ms; no suspension, the UI thread drains nothing)\n",
                "stop() during the flood, plain:", main.stopMs,
                net::SocketChannel::kReleasePauseMs + net::SocketChannel::kWatcherWaitMs);

    double worstSuspended = 0;
    for (int i = 0; i < kShortFloods; ++i)
        worstSuspended =
            std::max(worstSuspended, flood(channel, window, nullptr, kShortFlood, true).stopMs);
    std::printf("%-40s %.1f ms  (worst of %d; goal < %.0f ms: %s)\n",
                "Disconnect during a flood:", worstSuspended, kShortFloods, kDisconnectGoalMs,
                worstSuspended < kDisconnectGoalMs ? "met" : "NOT met");
    const long peakMB = statusKb("VmHWM:") / 1024;
    std::printf("%-40s %ld MB now, %ld MB peak  (goal < %ld MB: %s)\n",
                "memory (RSS):", statusKb("VmRSS:") / 1024, peakMB, kMemoryGoalMB,
                peakMB < kMemoryGoalMB ? "met" : "NOT met");

    const double noGui = noGuiIntake(kNoGuiFlood) / 1e6;
    std::printf("%-40s %.2f MB/s / %.2f MB/s = %.3f  (the same stream without a GUI)\n",
                "intake against the no-GUI path:", intake, noGui, noGui > 0 ? intake / noGui : 0.0);

    app::MessageView quiet;
    watcherAllocations(quiet);
    const double ceiling = appendCosts();
    // Lines that the view's limits drop while they are pending are never
    // inserted, so the intake is no longer held to the view's own pace.
    std::printf("%-40s %.2f MB/s / %.2f MB/s = %.2f  (for information: the view's own pace, "
                "with the UI thread to itself)\n",
                "intake against the view's own pace:", intake, ceiling,
                ceiling > 0 ? intake / ceiling : 0.0);
    return 0;
}
