// devicesim: a device simulator for the console. See --help.

#include "bytetext.h"
#include "commandline.h"
#include "devicesimulator.h"
#include "fleetsimulator.h"
#include "lineoutput.h"
#include "nettext.h"
#include "simulatorarguments.h"

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

// "127.0.0.1 port 21210" or "127.0.0.1 ports 21210 to 21219 (10 devices, ...)".
std::string listeningText(const SimulatorConfig& config, std::uint32_t address, std::uint16_t port)
{
    const std::string endpoint = endpointText(makeEndpoint(address, port));
    const std::string host = endpoint.substr(0, endpoint.rfind(':'));
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

// Runs a started simulator until SIGINT or SIGTERM.
template <typename Simulator>
int serve(Simulator& simulator, std::uint16_t port, const SimulatorConfig& config,
          SimulatorLog& log, LineOutput& output, const sigset_t& stopSignals)
{
    if (!makeEndpoint(simulator.address(), 0).isLoopback()) {
        std::cerr << "devicesim: warning: listening on " << escapedText(config.listenHost)
                  << ", beyond the loopback network: other hosts can reach the simulator\n";
    }
    log.write({}, "devicesim listening on " + listeningText(config, simulator.address(), port) +
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
            std::cerr << "devicesim: " << config.devices << " devices with " << config.maxClients
                      << " clients each need up to " << needed << " open files, but only "
                      << limit.soft << " are allowed (hard limit " << limit.hard
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
    if (config.devices != 0) {
        FleetSimulator fleet(config, log);
        if (const base::Error failure = fleet.start(); !failure.ok()) {
            return cannotListen(failure.text());
        }
        return serve(fleet, fleet.firstPort(), config, log, output, stopSignals);
    }
    DeviceSimulator simulator(config, log);
    if (const base::Error failure = simulator.start(); !failure.ok()) {
        return cannotListen(failure.text());
    }
    return serve(simulator, simulator.port(), config, log, output, stopSignals);
}
