// The Commands window under load, through the whole console connected to a
// loopback TCP peer:
//  1. a saved free text repeated every 1 ms to a peer that echoes it: the UI
//     latency, the sends, whether the peer got each block exactly once and
//     whole, and the sizes of the message view and the Traffic window;
//  2. automatic answers to 1000 matching frames a second: with the bound at
//     1000 the answer latency at the peer (from the frame's send to the
//     answer's arrival at the peer's socket, as the kernel timed it) and the
//     UI latency, then with the default bound how many are answered a second
//     and how many counted.
// Prints the figures next to the goals; exits non-zero only when the harness
// itself fails (no peer, no connection, no rules). Settings and files go to a
// temporary folder.
//
// Usage: commands_bench   (Without a display it runs on Qt's offscreen platform.)

#include "eventpump.h"
#include "stampedreceive.h"
#include "uilatencyprobe.h"

#include "loopbacktcpserver.h"

#include "app/commands/answerpanel.h"
#include "app/commands/commandrepeat.h"
#include "app/commands/commandswindow.h"
#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/console/ipv4addressedit.h"
#include "app/traffic/trafficmodel.h"
#include "app/traffic/trafficwindow.h"
#include "app/view/messageview.h"
#include "protocol/commandframe.h"
#include "protocol/delimiterset.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextDocument>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

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

using app::ConsoleTemplate;
using Clock = std::chrono::steady_clock;
// The kernel's receive times are on the system clock.
using WallClock = std::chrono::system_clock;
using namespace std::chrono_literals;

constexpr double kUiGoalMs = 50.0;
constexpr double kAnswerGoalMs = 5.0;
constexpr auto kRepeatFor = 10s;
constexpr auto kFloodFor = 5s;
constexpr auto kStepLimit = 10s;
constexpr auto kDrainLimit = 3s;
constexpr int kFramesPerSecond = 1000;
const char* const kRepeatedText = "repeat check 0123456789";

void click(app::ConsoleDialog& dialog, int id)
{
    qobject_cast<QAbstractButton*>(dialog.control(id))->click();
}

void setCombo(app::ConsoleDialog& dialog, int id, const char* text)
{
    qobject_cast<QComboBox*>(dialog.control(id))->setEditText(QString::fromLatin1(text));
}

// Points the console at the peer, clicks Connect and takes the connection.
// The peer sends each block at once (no Nagle), as the device simulator does:
// otherwise a frame sent while the one before is not yet acknowledged waits
// in the peer's own kernel for the console's delayed acknowledgement, up to
// 40 ms, and that wait would count as the console's answer time.
bool connectTo(app::ConsoleDialog& dialog, LoopbackTcpServer& peer)
{
    click(dialog, ConsoleTemplate::kTcpRadio);
    qobject_cast<app::Ipv4AddressEdit*>(dialog.control(ConsoleTemplate::kServerAddress))
        ->setText(QStringLiteral("127.0.0.1"));
    qobject_cast<QLineEdit*>(dialog.control(ConsoleTemplate::kPortEdit))
        ->setText(QString::fromStdString(peer.portText()));
    click(dialog, ConsoleTemplate::kConnect);
    // The handshake ends in the kernel's backlog, so taking it here is safe.
    const int on = 1;
    return peer.accept(std::chrono::duration_cast<std::chrono::milliseconds>(kStepLimit)) &&
           ::setsockopt(peer.connection(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 &&
           pumpUntil([&] { return dialog.control(ConsoleTemplate::kSendMessage)->isEnabled(); },
                     kStepLimit);
}

// The echoing peer of the repeat measurement (1 above): echoes what comes and
// cuts it into blocks, each of which must be `block`. Runs on its own thread until `stop`.
struct EchoCount {
    std::uint64_t whole = 0;
    std::uint64_t wrong = 0;  // bytes where a block should have started
    std::size_t leftover = 0; // a partial block at the end
};

EchoCount echoAndCount(LoopbackTcpServer& peer, const std::string& block,
                       const std::atomic<bool>& stop, Clock::time_point deadline)
{
    EchoCount count;
    std::string pending;
    std::string chunk;
    while (!stop.load() && Clock::now() < deadline) {
        if (!peer.receive(chunk, 10ms))
            continue;
        peer.send(chunk, 1000ms);
        pending += chunk;
        std::size_t at = 0;
        while (pending.size() - at >= block.size()) {
            if (pending.compare(at, block.size(), block) == 0) {
                ++count.whole;
                at += block.size();
            } else {
                ++count.wrong;
                ++at;
            }
        }
        pending.erase(0, at);
    }
    count.leftover = pending.size();
    return count;
}

// The largest sizes the message view and the Traffic window reached.
struct Sizes {
    int viewLines = 0;
    int viewChars = 0;
    int trafficRows = 0;
};

bool repeatPart(app::ConsoleDialog& dialog)
{
    app::CommandsWindow& window = *dialog.commandsWindow();
    setCombo(dialog, ConsoleTemplate::kMedia, "");
    qobject_cast<QLineEdit*>(dialog.control(ConsoleTemplate::kFreeTextEdit))
        ->setText(QString::fromLatin1(kRepeatedText));
    if (!window.addFromConsole()) {
        std::printf("repeat: could not add the free text (%s)\n", qPrintable(window.statusText()));
        return false;
    }
    LoopbackTcpServer peer;
    if (!peer.listening() || !connectTo(dialog, peer)) {
        std::printf("repeat: could not connect to a loopback peer\n");
        return false;
    }
    dialog.showTrafficWindow();
    auto* view = qobject_cast<app::MessageView*>(dialog.control(ConsoleTemplate::kMessageView));
    const app::TrafficModel& traffic = dialog.trafficWindow()->model();

    const std::string block = protocol::wireBlock(kRepeatedText);
    std::atomic<bool> stop{false};
    EchoCount count;
    std::thread echo([&] {
        count = echoAndCount(peer, block, stop, Clock::now() + kRepeatFor + kDrainLimit + 2s);
    });
    Sizes most;
    QTimer sampler;
    const auto sample = [&] {
        most.viewLines = std::max(most.viewLines, view->document()->blockCount());
        most.viewChars = std::max(most.viewChars, view->document()->characterCount());
        most.trafficRows = std::max(most.trafficRows, traffic.rowCount());
    };
    QObject::connect(&sampler, &QTimer::timeout, sample);
    sampler.start(50);

    UiLatencyProbe probe;
    probe.start();
    const auto began = Clock::now();
    const bool started = window.startRepeat(0, 1, 0);
    serveFor(kRepeatFor);
    window.repeat().stop();
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    probe.stop();
    const std::uint64_t sent = window.repeat().sent();
    // The peer's count catches up with what the send queue still held.
    pumpUntil([&] { return false; }, 500ms);
    stop = true;
    echo.join();
    sample();
    sampler.stop();

    const double p99 = percentile(probe.postedDelaysMs, 99);
    const bool exact = count.whole == sent && count.wrong == 0 && count.leftover == 0;
    std::printf("repeat 1 ms, 10 s: ui p99 = %.2f ms (goal < %.0f ms: %s), sent %llu, peer got "
                "%llu whole in order%s\n",
                p99, kUiGoalMs, p99 < kUiGoalMs ? "met" : "NOT met",
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(count.whole),
                exact ? " (exactly once each: met)" : "");
    if (!exact)
        std::printf("  NOT exact: %llu stray bytes, %zu bytes of a partial block\n",
                    static_cast<unsigned long long>(count.wrong), count.leftover);
    std::printf("  %.0f sends a second (%.2f s from start to stop; every 1 ms is 1000)\n",
                static_cast<double>(sent) / seconds, seconds);
    std::printf("  repeat line: %s\n", qPrintable(window.repeatText()));
    std::printf("  message view at most %d lines (bound %d), %d chars (bound %d): %s\n",
                most.viewLines, app::MessageView::kMaxLines, most.viewChars,
                app::MessageView::kMaxChars,
                most.viewLines <= app::MessageView::kMaxLines + 1 &&
                        most.viewChars <= app::MessageView::kMaxChars + 1
                    ? "within"
                    : "BEYOND");
    std::printf("  Traffic window at most %d rows (bound %zu): %s\n", most.trafficRows,
                app::TrafficModel::kMaxRecords,
                static_cast<std::size_t>(most.trafficRows) <= app::TrafficModel::kMaxRecords
                    ? "within"
                    : "BEYOND");
    click(dialog, ConsoleTemplate::kDisconnect);
    pumpUntil([&] { return dialog.control(ConsoleTemplate::kConnect)->isEnabled(); }, kStepLimit);
    return started;
}

// What the frame-sending peer of the answers measurement (2 above) saw.
// Answers are timed when they reached the peer's socket; `readLatencyMs` times them when the peer's thread
// read them, and `sendLateMs` says how late that thread sent each frame: the
// two show how much the peer's own turns on a busy machine would add.
struct AnswerCount {
    std::uint64_t framesSent = 0;
    std::uint64_t answers = 0;
    std::vector<double> latencyMs;
    std::vector<double> readLatencyMs;
    std::vector<double> sendLateMs;
    std::vector<WallClock::time_point> answerAt;
};

// Sends kFramesPerSecond numbered EVT frames a second for `length`, and takes
// the answers ("ACK" with the same number as message), timing each.
AnswerCount sendFramesAndTime(LoopbackTcpServer& peer, Clock::duration length)
{
    const protocol::DelimiterMode mode = protocol::DelimiterSet::instance().mode();
    AnswerCount count;
    if (!stampArrivals(peer.connection()))
        std::printf("  (no kernel receive times: answers are timed when read)\n");
    std::vector<WallClock::time_point> sentAt;
    std::string pending;
    std::string chunk;
    const auto began = Clock::now();
    const auto end = began + length;
    const auto deadline = end + 1s;
    auto next = began;
    while (Clock::now() < deadline) {
        while (Clock::now() < end && Clock::now() >= next) {
            const std::string n = std::to_string(sentAt.size());
            count.sendLateMs.push_back(toMs(Clock::now() - next));
            sentAt.push_back(WallClock::now());
            if (!peer.send(
                    protocol::wireBlock(protocol::composeFrame({"B", "A1", "", "EVT", n}, mode)),
                    1000ms))
                return count;
            next += std::chrono::microseconds(1000000 / kFramesPerSecond);
        }
        WallClock::time_point arrived;
        if (!receiveStamped(peer.connection(), chunk, arrived, 1ms))
            continue;
        const auto read = WallClock::now();
        pending += chunk;
        std::size_t at = 0;
        for (std::size_t close; (close = pending.find(protocol::kLineEnd, at)) != std::string::npos;
             at = close + protocol::kLineEnd.size()) {
            std::size_t digits = close;
            while (digits > at && pending[digits - 1] >= '0' && pending[digits - 1] <= '9')
                --digits;
            ++count.answers;
            count.answerAt.push_back(arrived);
            if (digits == close)
                continue;
            const auto index = std::stoull(pending.substr(digits, close - digits));
            if (index < sentAt.size()) {
                count.latencyMs.push_back(toMs(arrived - sentAt[index]));
                count.readLatencyMs.push_back(toMs(read - sentAt[index]));
            }
        }
        pending.erase(0, at);
    }
    count.framesSent = sentAt.size();
    return count;
}

// "answered A, over the bound C" of the answer panel's status line.
std::pair<long long, long long> answerCounts(const app::AnswerPanel& answers)
{
    static const QRegularExpression pattern(
        QStringLiteral("answered (\\d+), over the bound (\\d+)"));
    const auto match = pattern.match(answers.statusText());
    if (!match.hasMatch())
        return {-1, -1};
    return {match.captured(1).toLongLong(), match.captured(2).toLongLong()};
}

bool answerPart(app::ConsoleDialog& dialog, const QString& rulesPath)
{
    QFile rules(rulesPath);
    if (!rules.open(QIODevice::WriteOnly))
        return false;
    rules.write("[[answer]]\nname = \"ack\"\nwhen = { command = \"EVT\" }\n"
                "send = { media = \"{media}\", id = \"{id}\", command = \"ACK\", "
                "message = \"{message}\" }\n");
    rules.close();
    app::CommandsWindow& window = *dialog.commandsWindow();
    if (!window.openFile(rulesPath.toStdString())) {
        std::printf("answers: the rules were refused (%s)\n", qPrintable(window.statusText()));
        return false;
    }
    LoopbackTcpServer peer;
    if (!peer.listening() || !connectTo(dialog, peer)) {
        std::printf("answers: could not connect to a loopback peer\n");
        return false;
    }

    const auto runFlood = [&](int bound, UiLatencyProbe* probe) {
        window.answers().setMaxPerSecond(bound);
        window.answers().setOn(true);
        AnswerCount count;
        std::thread sender([&] { count = sendFramesAndTime(peer, kFloodFor); });
        if (probe)
            probe->start();
        serveFor(kFloodFor + 1s);
        if (probe)
            probe->stop();
        sender.join();
        return count;
    };

    UiLatencyProbe probe;
    const AnswerCount fast = runFlood(kFramesPerSecond, &probe);
    const auto [fastAnswered, fastOver] = answerCounts(window.answers());
    window.answers().setOn(false);
    const double answerP99 = percentile(fast.latencyMs, 99);
    const double uiP99 = percentile(probe.postedDelaysMs, 99);
    std::printf("auto answers at 1000/s: answer p99 = %.2f ms (goal < %.0f ms: %s), ui p99 = "
                "%.2f ms (goal < %.0f ms: %s)\n",
                answerP99, kAnswerGoalMs, answerP99 < kAnswerGoalMs ? "met" : "NOT met", uiP99,
                kUiGoalMs, uiP99 < kUiGoalMs ? "met" : "NOT met");
    printDistribution("answer latency at the peer:", fast.latencyMs, 30, 2);
    printDistribution("as the peer's thread read them:", fast.readLatencyMs, 30, 2);
    printDistribution("the peer's frames sent late by:", fast.sendLateMs, 30, 2);
    std::printf("  frames sent %llu, answers at the peer %llu, panel: answered %lld, over the "
                "bound %lld\n",
                static_cast<unsigned long long>(fast.framesSent),
                static_cast<unsigned long long>(fast.answers), fastAnswered, fastOver);

    const AnswerCount bounded =
        runFlood(static_cast<int>(check::AnswerEngine::kDefaultMaxPerSecond), nullptr);
    const auto [answered, over] = answerCounts(window.answers());
    window.answers().setOn(false);
    // Whole seconds from the first answer, as the peer saw them: the bound
    // counts seconds from a match, so a flood of 5 s ends in a partial sixth.
    const auto seconds = std::chrono::seconds(kFloodFor).count();
    std::vector<long long> perSecond(static_cast<std::size_t>(seconds) + 1, 0);
    for (const auto at : bounded.answerAt) {
        const auto second = (at - bounded.answerAt.front()) / 1s;
        ++perSecond[std::min<std::size_t>(static_cast<std::size_t>(second), seconds)];
    }
    std::string each;
    bool exact = !bounded.answerAt.empty();
    for (std::size_t i = 0; i < static_cast<std::size_t>(seconds); ++i) {
        each += (i ? " " : "") + std::to_string(perSecond[i]);
        exact = exact && perSecond[i] == check::AnswerEngine::kDefaultMaxPerSecond;
    }
    std::printf("auto answers, default bound: %s answered a second (goal exactly %u: %s), %lld "
                "counted\n",
                each.c_str(), check::AnswerEngine::kDefaultMaxPerSecond, exact ? "met" : "NOT met",
                over);
    std::printf("  after the %lld whole seconds: %lld more; the panel answered %lld in all\n",
                static_cast<long long>(seconds), perSecond.back(), answered);
    std::printf("  frames sent %llu, answers at the peer %llu, answered + counted = %lld\n",
                static_cast<unsigned long long>(bounded.framesSent),
                static_cast<unsigned long long>(bounded.answers), answered + over);
    click(dialog, ConsoleTemplate::kDisconnect);
    pumpUntil([&] { return dialog.control(ConsoleTemplate::kConnect)->isEnabled(); }, kStepLimit);
    return fast.framesSent > 0 && answered >= 0;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!home.isValid()) {
        std::printf("no temporary folder\n");
        return 1;
    }
    const std::string folder = home.path().toStdString();
    useRunFolderAndPlatform(folder);
    QApplication application(argc, argv);
    std::printf("Commands window benchmark: Qt platform \"%s\", 127.0.0.1\n",
                qPrintable(QGuiApplication::platformName()));

    app::ConsoleDialog dialog;
    dialog.show();
    const bool repeated = repeatPart(dialog);
    const bool answered = answerPart(dialog, home.filePath(QStringLiteral("answers.toml")));
    return repeated && answered ? 0 : 1;
}
