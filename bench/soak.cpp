// Soak run of the console against loopback peers: many connect/disconnect
// cycles through the dialog, then a long flood at a steady rate. Prints open
// descriptors, threads and resident memory before and after each phase next
// to the goals, and always exits 0 unless the console could not be driven.
//
// Usage: soak [--cycles N] [--flood-seconds S] [--rate-kib R] [--checkpoint-seconds C]
//   defaults: 1000 cycles (TCP and UDP alternating), a 600 s flood at 1024 KiB/s,
//   memory compared between C = 60 s into the flood (at most half of it) and its end.
// The console runs on Qt's offscreen platform with its settings in a temporary
// folder; every peer is on 127.0.0.1.

#include "eventpump.h"
#include "loopbacktcpserver.h"
#include "loopbackudppeer.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/console/ipv4addressedit.h"
#include "app/view/messageview.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace
{

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using app::ConsoleTemplate;

constexpr auto kStepLimit = 3s;   // every single step of a cycle
constexpr int kWarmUpCycles = 10; // before the first figures are taken
constexpr int kFailureLimit = 10; // cycles that may fail before the run gives up
constexpr std::size_t kFloodBlock = 2048;
constexpr auto kFloodTick = 10ms;
constexpr double kCycleRssGoalMiB = 5.0;
constexpr double kFloodRssGoalMiB = 10.0;

struct Options {
    int cycles = 1000;
    int floodSeconds = 600;
    int rateKiB = 1024;
    int checkpointSeconds = 60;
};

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (value < 0)
            return false;
        if (std::strcmp(argv[i], "--cycles") == 0)
            options.cycles = value;
        else if (std::strcmp(argv[i], "--flood-seconds") == 0)
            options.floodSeconds = value;
        else if (std::strcmp(argv[i], "--rate-kib") == 0)
            options.rateKiB = value;
        else if (std::strcmp(argv[i], "--checkpoint-seconds") == 0)
            options.checkpointSeconds = value;
        else
            return false;
    }
    return argc % 2 == 1;
}

// What the process holds: descriptors, threads and resident memory.
struct Footprint {
    std::size_t descriptors = 0;
    std::size_t threads = 0;
    double rssMiB = 0;

    static Footprint now()
    {
        Footprint f;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
            ++f.descriptors;
        for ([[maybe_unused]] const auto& e :
             std::filesystem::directory_iterator("/proc/self/task"))
            ++f.threads;
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0)
                f.rssMiB = std::atof(line.c_str() + 6) / 1024.0;
        return f;
    }
};

// The console, driven as the operator drives it: by its controls.
class Console
{
public:
    Console()
    {
        dialog_.show();
        QObject::connect(view(), &QPlainTextEdit::textChanged, [this] { ++viewChanges_; });
    }

    app::MessageView* view() const
    {
        return qobject_cast<app::MessageView*>(dialog_.control(ConsoleTemplate::kMessageView));
    }
    std::uint64_t viewChanges() const { return viewChanges_; }

    void click(int id) { qobject_cast<QAbstractButton*>(dialog_.control(id))->click(); }
    bool enabled(int id) const { return dialog_.control(id)->isEnabled(); }
    // Send is enabled only once connected (Disconnect is also enabled while a
    // connect is still pending).
    bool connected() const { return enabled(ConsoleTemplate::kSendMessage); }

    bool connect(bool udp, const std::string& port)
    {
        click(udp ? ConsoleTemplate::kUdpRadio : ConsoleTemplate::kTcpRadio);
        qobject_cast<app::Ipv4AddressEdit*>(dialog_.control(ConsoleTemplate::kServerAddress))
            ->setText(QStringLiteral("127.0.0.1"));
        qobject_cast<QLineEdit*>(dialog_.control(ConsoleTemplate::kPortEdit))
            ->setText(QString::fromStdString(port));
        click(ConsoleTemplate::kConnect);
        return pumpUntil([this] { return connected(); }, kStepLimit);
    }

    void send(const std::string& text)
    {
        qobject_cast<QLineEdit*>(dialog_.control(ConsoleTemplate::kFreeTextEdit))
            ->setText(QString::fromStdString(text));
        click(ConsoleTemplate::kSendMessage);
    }

    bool disconnect()
    {
        click(ConsoleTemplate::kDisconnect);
        return pumpUntil([this] { return enabled(ConsoleTemplate::kConnect); }, kStepLimit);
    }

private:
    app::ConsoleDialog dialog_;
    std::uint64_t viewChanges_ = 0;
};

// One cycle: connect, the console sends, the peer answers, the answer shows in
// the view, disconnect. True when every step happened within its limit.
bool runCycle(Console& console, LoopbackTcpServer& tcp, LoopbackUdpPeer& udp, int index)
{
    const bool useUdp = index % 2 == 1;
    if (!console.connect(useUdp, useUdp ? udp.portText() : tcp.portText()))
        return false;
    if (!useUdp && !tcp.accept(kStepLimit))
        return false;
    const std::uint64_t changes = console.viewChanges();
    console.send("soak " + std::to_string(index));
    std::string got;
    const bool heard = useUdp ? udp.receive(got, kStepLimit) : tcp.receive(got, kStepLimit);
    const std::string answer = "[A01=ACK-" + std::to_string(index) + "\r\n";
    const bool answered = heard && (useUdp ? udp.sendToSender(answer) : tcp.send(answer));
    const bool shown =
        answered && pumpUntil([&] { return console.viewChanges() > changes; }, kStepLimit);
    const bool ended = console.disconnect();
    if (!useUdp) {
        tcp.waitForClose(kStepLimit);
        tcp.closeConnection();
    }
    return shown && ended;
}

// The device side of the flood: once the console has connected, sends
// 2048-byte blocks of frames at a steady rate until told to stop or the
// console goes away. Owns its server from the accept on.
class FloodPeer
{
public:
    explicit FloodPeer(int rateKiB) : bytesPerTick_(rateKiB * 1024 / (1000 / kFloodTick.count()))
    {
        for (int i = 0; block_.size() + 40 < kFloodBlock; ++i) {
            char frame[48];
            std::snprintf(frame, sizeof frame, "[A01data%04d=CMD-flood message\r\n", i);
            block_ += frame;
        }
        block_.resize(kFloodBlock, ' ');
    }
    ~FloodPeer() { stop(); }

    std::string portText() const { return server_.portText(); }
    std::uint64_t bytesSent() const { return sent_; }
    // The longest time between two sends: how long the console read nothing.
    double longestGapSeconds() const
    {
        return std::chrono::duration<double>(longestGap_.load()).count();
    }
    bool consoleGone() const { return consoleGone_; }

    bool start()
    {
        if (!server_.accept(kStepLimit))
            return false;
        thread_ = std::thread([this] { run(); });
        return true;
    }
    void stop()
    {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
        server_.closeConnection();
    }

private:
    void run()
    {
        // What the rate allows is owed; while the console reads nothing the
        // debt grows up to one second's worth and is paid once it reads again.
        const std::uint64_t maxOwed = bytesPerTick_ * (1000 / kFloodTick.count());
        std::uint64_t owed = 0;
        std::size_t at = 0; // where in the block the next send starts
        auto next = Clock::now();
        auto lastSend = next;
        while (!stopping_) {
            owed = std::min(owed + bytesPerTick_, maxOwed);
            while (owed > 0 && !stopping_) {
                const std::size_t length =
                    static_cast<std::size_t>(std::min<std::uint64_t>(owed, block_.size() - at));
                const std::ptrdiff_t n =
                    server_.sendSome(std::string_view(block_).substr(at, length), kFloodTick);
                if (n < 0) {
                    consoleGone_ = true;
                    return;
                }
                if (n == 0)
                    break; // no room: the console is behind
                const auto now = Clock::now();
                longestGap_ = std::max(longestGap_.load(), now - lastSend);
                lastSend = now;
                sent_ += static_cast<std::uint64_t>(n);
                owed -= static_cast<std::uint64_t>(n);
                at = (at + static_cast<std::size_t>(n)) % block_.size();
            }
            next = std::max(next + kFloodTick, Clock::now());
            std::this_thread::sleep_until(next); // the pace of the flood, not a wait
        }
    }

    LoopbackTcpServer server_;
    std::string block_;
    std::uint64_t bytesPerTick_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> sent_{0};
    std::atomic<Clock::duration> longestGap_{Clock::duration::zero()};
    std::atomic<bool> consoleGone_{false};
};

void printFootprint(const char* when, const Footprint& f)
{
    std::printf("  %-28s descriptors %4zu   threads %3zu   RSS %8.1f MiB\n", when, f.descriptors,
                f.threads, f.rssMiB);
}

bool cyclePhase(Console& console, const Options& options)
{
    LoopbackTcpServer tcp;
    LoopbackUdpPeer udp;
    int failures = 0;
    for (int i = 0; i < kWarmUpCycles; ++i)
        failures += runCycle(console, tcp, udp, i) ? 0 : 1;
    const Footprint before = Footprint::now();
    const auto start = Clock::now();
    for (int i = 0; i < options.cycles && failures <= kFailureLimit; ++i)
        failures += runCycle(console, tcp, udp, i) ? 0 : 1;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const Footprint after = Footprint::now();

    std::printf("Connect/disconnect cycles through the dialog: %d (TCP and UDP alternating, after "
                "%d warm-up cycles), %.1f s, %d failed\n",
                options.cycles, kWarmUpCycles, seconds, failures);
    printFootprint("before", before);
    printFootprint("after", after);
    std::printf("  change: descriptors %+lld, threads %+lld, RSS %+.2f MiB "
                "(goal: 0, 0, under %.0f MiB)\n",
                static_cast<long long>(after.descriptors) -
                    static_cast<long long>(before.descriptors),
                static_cast<long long>(after.threads) - static_cast<long long>(before.threads),
                after.rssMiB - before.rssMiB, kCycleRssGoalMiB);
    return failures <= kFailureLimit;
}

bool floodPhase(Console& console, const Options& options)
{
    if (options.floodSeconds == 0)
        return true;
    const int checkpoint =
        std::max(1, std::min(options.checkpointSeconds, options.floodSeconds / 2));
    FloodPeer peer(options.rateKiB);
    const Footprint before = Footprint::now();
    if (!console.connect(false, peer.portText()) || !peer.start())
        return false;
    const auto start = Clock::now();
    pumpUntil([] { return false; }, std::chrono::seconds(checkpoint));
    const Footprint atCheckpoint = Footprint::now();
    const std::uint64_t changesAtCheckpoint = console.viewChanges();
    pumpUntil([&] { return !console.connected(); },
              std::chrono::seconds(options.floodSeconds - checkpoint));
    const Footprint atEnd = Footprint::now();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool stillConnected = console.connected() && !peer.consoleGone();
    peer.stop();
    console.disconnect();
    const Footprint after = Footprint::now();

    std::printf("Flood through the dialog: %d s at %d KiB/s asked, %.2f MiB sent in %.1f s "
                "(%.0f KiB/s), %llu view changes (%llu after the checkpoint), %s\n",
                options.floodSeconds, options.rateKiB,
                static_cast<double>(peer.bytesSent()) / (1024.0 * 1024.0), seconds,
                static_cast<double>(peer.bytesSent()) / 1024.0 / seconds,
                static_cast<unsigned long long>(console.viewChanges()),
                static_cast<unsigned long long>(console.viewChanges() - changesAtCheckpoint),
                stillConnected ? "connected throughout" : "the connection ended early");
    std::printf("  longest time the console took nothing: %.2f s\n", peer.longestGapSeconds());
    printFootprint("before the flood", before);
    printFootprint(("after " + std::to_string(checkpoint) + " s").c_str(), atCheckpoint);
    printFootprint("at the end of the flood", atEnd);
    printFootprint("after disconnect", after);
    std::printf("  RSS growth from %d s to the end: %+.2f MiB (goal: under %.0f MiB)\n", checkpoint,
                atEnd.rssMiB - atCheckpoint.rssMiB, kFloodRssGoalMiB);
    return stillConnected;
}

} // namespace

int main(int argc, char** argv)
{
    // Each figure shows as soon as it is known, also when the output is a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: soak [--cycles N] [--flood-seconds S] [--rate-kib R] "
                             "[--checkpoint-seconds C]\n");
        return 2;
    }
    // Never the user's settings or display.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    const std::string folder = home.path().toStdString();
    ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);

    Console console;
    if (!cyclePhase(console, options)) {
        std::printf("soak: too many cycles failed; the flood is skipped\n");
        return 1;
    }
    if (!floodPhase(console, options)) {
        std::printf("soak: the flood could not be run to its end\n");
        return 1;
    }
    return 0;
}
