// devicesim: a device simulator for the console. See --help.

#include "bytetext.h"
#include "commandline.h"
#include "deviceevents.h"
#include "fleetsimulator.h"
#include "lineoutput.h"
#include "nettext.h"
#include "peeraddress.h"
#include "simulatorarguments.h"
#include "simulatorusage.h"

#include "protocol/framedecoder.h"
#include "socket/openfilelimit.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>

namespace
{

using namespace devicetools;

constexpr int kExitStopped = 0;
constexpr int kExitCannotListen = 1;
constexpr int kExitUsage = 2;
// How long the log may take to write what is queued once the simulator has
// stopped; the whole stop stays well within a second.
constexpr std::chrono::milliseconds kLogDrainLimit{400};

// "127.0.0.1 port 21210" or "127.0.0.1 ports 21210 to 21219 (10 devices, ...)";
// an IPv6 address in brackets.
std::string listeningText(const SimulatorConfig& config, const net::Endpoint& address,
                          std::uint16_t port)
{
    const std::string host =
        address.family() == AF_INET6 ? '[' + address.addressText() + ']' : address.addressText();
    if (config.devices == 0) {
        return host + " port " + std::to_string(port) + " (TCP and UDP)";
    }
    return host + " ports " + std::to_string(port) + " to " +
           std::to_string(port + config.devices - 1) + " (" + std::to_string(config.devices) +
           " devices, TCP and UDP each; each device: at most " + std::to_string(config.maxClients) +
           " clients, " +
           (config.idleTimeoutMs == 0
                ? std::string("no idle time-out")
                : "idle time-out " + SimulatorLog::durationText(config.idleTimeoutMs)) +
           ")";
}

// "dialing 127.0.0.1:21210 (1000 devices, ids 01 to G8, at most 2000 dials a second)".
std::string dialingText(const SimulatorConfig& config)
{
    const bool ipv6 = config.connectHost.find(':') != std::string::npos;
    std::string text = "dialing " + (ipv6 ? '[' + config.connectHost + ']' : config.connectHost) +
                       ':' + std::to_string(config.connectPort);
    if (config.devices != 0) {
        text += " (" + std::to_string(config.devices) + " devices, ids " +
                (config.devices < DeviceEvents::kDistinctIds
                     ? DeviceEvents::deviceId(1) + " to " + DeviceEvents::deviceId(config.devices)
                     : "01 to zz and 00, repeating from device " +
                           std::to_string(DeviceEvents::kDistinctIds + 1)) +
                ", at most " + std::to_string(config.dialRate) + " dials a second)";
    }
    return text;
}

// "; TLS, certificate SHA256:... (made at start)" or what a dialing device
// accepts of its host.
std::string tlsText(const SimulatorConfig& config, const FleetSimulator& simulator)
{
    if (!config.tls.on) {
        return {};
    }
    if (config.connectHost.empty()) {
        return "; TLS, certificate " + simulator.tlsFingerprint() +
               (simulator.tlsCertificateMade() ? " (made at start)" : "");
    }
    if (config.tls.insecure) {
        return "; TLS, any host certificate (--insecure)";
    }
    return config.tls.pin.empty() ? "; TLS, host certificate trusted by an authority"
                                  : "; TLS, host certificate " + config.tls.pin;
}

std::string eventsText(const SimulatorConfig& config)
{
    if (config.eventsPerSecond <= 0) {
        return {};
    }
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", config.eventsPerSecond);
    return std::string("; events: ") + rate + " a second, " +
           std::string(protocol::modeName(config.eventMode));
}

// Runs a started simulator until SIGINT or SIGTERM.
int serve(FleetSimulator& simulator, const SimulatorConfig& config, SimulatorLog& log,
          LineOutput& output, const sigset_t& stopSignals)
{
    const bool dialing = !config.connectHost.empty();
    if (!dialing && !isLoopbackAddress(simulator.address())) {
        std::cerr << "devicesim: warning: listening on " << escapedText(config.listenHost)
                  << ", beyond the loopback network: other hosts can reach the simulator\n";
    }
    const std::string what =
        dialing ? dialingText(config)
                : "listening on " + listeningText(config, simulator.address(), simulator.port());
    log.write({}, "devicesim " + what + tlsText(config, simulator) + eventsText(config) +
                      "; answers: " + (config.rules ? "reply rules, then " : "") +
                      (config.echo ? "echo" : "none") + "; faults: " + config.faults.summary() +
                      ". Ctrl+C stops.");
    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }
    log.write({},
              std::string("devicesim stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
    simulator.stop();
    log.close(kLogDrainLimit, [&output] { output.abandon(); });
    return kExitStopped;
}

} // namespace

int main(int argc, char** argv)
{
    SimulatorConfig config;
    CommandLine line(argc, argv);
    const base::Result<ParseResult> parsed = parseSimulatorArguments(line, config);
    if (!parsed) {
        std::cerr << "devicesim: " << escapedText(parsed.error().text())
                  << "\nTry devicesim --help.\n";
        return kExitUsage;
    }
    if (*parsed == ParseResult::Help) {
        std::cout << simulatorUsage();
        return kExitStopped;
    }
    if (config.devices != 0) {
        // A stock desktop allows 1024 open files unless a program asks for more.
        const std::uint64_t needed = FleetSimulator::descriptorsNeeded(config);
        const net::OpenFileLimit limit = net::raiseOpenFileLimit(needed);
        if (limit.soft < needed) {
            std::cerr << "devicesim: " << config.devices << " devices"
                      << (config.connectHost.empty()
                              ? " with " + std::to_string(config.maxClients) + " clients each"
                              : std::string())
                      << " need up to " << needed << " open files, but only " << limit.soft
                      << " are allowed (hard limit " << limit.hard
                      << "); ask for fewer --devices or --max-clients, or raise the hard limit"
                         " (ulimit -Hn)\n";
            return kExitUsage;
        }
    }

    // Ctrl+C and SIGTERM are blocked in every thread and taken by sigwait
    // in serve(), so no work ever runs in a signal handler. The mask is set
    // before the first thread starts, which inherits it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A reader of the output that goes away (Ctrl+C ends a whole pipeline)
    // only ends the output: the sockets send with MSG_NOSIGNAL, and the log
    // sees EPIPE and writes no more.
    ::signal(SIGPIPE, SIG_IGN);

    // The log thread and every serving thread write through the log's queue;
    // only the log thread waits for the output, and the stop never waits for
    // it longer than kLogDrainLimit.
    LineOutput output(STDOUT_FILENO);
    SimulatorLog log([&output](std::string_view text) { output.writeLine(text); });
    const auto cannotListen = [&](const std::string& reason) {
        std::cerr << "devicesim: " << escapedText(reason) << '\n';
        log.close(kLogDrainLimit, [&output] { output.abandon(); });
        return kExitCannotListen;
    };
    FleetSimulator simulator(config, log);
    if (const base::Error failure = simulator.start(); !failure.ok()) {
        return cannotListen(failure.text());
    }
    return serve(simulator, config, log, output, stopSignals);
}
