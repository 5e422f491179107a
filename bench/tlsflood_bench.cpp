// The console's intake of one TLS connection under a flood, against the same
// flood without TLS: a loopback device sends frames as fast as it can to the
// console dialog, connected as the operator connects it (for TLS with the
// device's certificate pinned beforehand, so nothing asks), the Traffic
// window closed, no recording. Each flood is measured in turn, plain first,
// in one run; prints both intakes, the ratio against its goal (TLS at least
// half of plain) and the UI latency of each, and always exits 0.
//
// Usage: tlsflood_bench [seconds]   (default 10; each flood's length)
// Settings and the known-devices file go to a temporary folder; without a
// display it runs on Qt's offscreen platform.

#include "eventpump.h"
#include "floodpeer.h"
#include "tlsfloodpeer.h"
#include "uilatencyprobe.h"

#include "app/console/consoledialog.h"
#include "app/console/consoletemplate.h"
#include "app/console/ipv4addressedit.h"
#include "app/tls/tlssettings.h"

#include "tls/knowndevices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

using app::ConsoleTemplate;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kRatioGoal = 0.5;
constexpr auto kStepLimit = 10s;
constexpr auto kPeerGrace = 5s;

struct Intake {
    double mbPerSecond = -1; // negative: not measured
    double p99Ms = -1;
};

void click(app::ConsoleDialog& dialog, int id)
{
    qobject_cast<QAbstractButton*>(dialog.control(id))->click();
}

// One flood of `limit` from `peer` into a fresh console.
template <typename Peer> Intake flood(Peer& peer, Clock::duration limit, const char* label)
{
    std::printf("\n%s:\n", label);
    app::ConsoleDialog dialog;
    dialog.show();
    if (peer.port() == 0) {
        std::printf("  the device could not listen on 127.0.0.1; no figures\n");
        return {};
    }
    peer.start(limit + kPeerGrace);
    click(dialog, ConsoleTemplate::kTcpRadio);
    qobject_cast<app::Ipv4AddressEdit*>(dialog.control(ConsoleTemplate::kServerAddress))
        ->setText(QStringLiteral("127.0.0.1"));
    qobject_cast<QLineEdit*>(dialog.control(ConsoleTemplate::kPortEdit))
        ->setText(QString::fromStdString(peer.portText()));
    click(dialog, ConsoleTemplate::kConnect);
    if (!pumpUntil([&] { return dialog.control(ConsoleTemplate::kSendMessage)->isEnabled(); },
                   kStepLimit)) {
        std::printf("  could not connect to the loopback device; no figures\n");
        click(dialog, ConsoleTemplate::kDisconnect);
        peer.join();
        return {};
    }
    UiLatencyProbe probe;
    probe.start();
    const std::uint64_t before = peer.bytesSent();
    const auto began = Clock::now();
    serveFor(limit);
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    const std::uint64_t sent = peer.bytesSent() - before;
    probe.stop();
    click(dialog, ConsoleTemplate::kDisconnect);
    pumpUntil([&] { return dialog.control(ConsoleTemplate::kConnect)->isEnabled(); }, kStepLimit);
    peer.join();
    Intake intake{static_cast<double>(sent) / seconds / 1e6, percentile(probe.postedDelaysMs, 99)};
    std::printf("  %-28s %.2f MB/s of frames taken in\n", "intake:", intake.mbPerSecond);
    std::printf("  %-28s %.2f ms\n", "UI latency p99:", intake.p99Ms);
    return intake;
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
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::printf("Console TLS flood benchmark: Qt platform \"%s\", %d s floods on 127.0.0.1\n",
                qPrintable(QGuiApplication::platformName()), seconds);

    FloodPeer plainPeer;
    app::TlsSettings::forceForThisRun(false);
    const Intake plain = flood(plainPeer, std::chrono::seconds(seconds), "Without TLS");

    TlsFloodPeer securePeer;
    tls::KnownDevices known;
    known.pin("127.0.0.1:" + securePeer.portText(), securePeer.fingerprint());
    const std::string path = app::TlsSettings::knownDevicesPath();
    if (!known.save(path).ok())
        std::printf("cannot write %s\n", path.c_str());
    app::TlsSettings::forceForThisRun(true);
    const Intake secure = flood(securePeer, std::chrono::seconds(seconds), "With TLS (pinned)");

    if (plain.mbPerSecond <= 0 || secure.mbPerSecond < 0) {
        std::printf("\nno ratio: a flood has no figures\n");
        return 0;
    }
    const double ratio = secure.mbPerSecond / plain.mbPerSecond;
    std::printf("\nSummary: TLS intake %.2f MB/s, plain %.2f MB/s, ratio %.2f  (goal >= %.1f: "
                "%s); UI p99 %.2f ms with TLS, %.2f ms without\n",
                secure.mbPerSecond, plain.mbPerSecond, ratio, kRatioGoal,
                ratio >= kRatioGoal ? "met" : "NOT met", secure.p99Ms, plain.p99Ms);
    return 0;
}
