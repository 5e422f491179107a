// devicesim: a device simulator for the console. See --help.

#include "bytetext.h"
#include "commandline.h"
#include "devicesimulator.h"
#include "lineoutput.h"
#include "nettext.h"
#include "simulatorarguments.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>

namespace
{

constexpr int kExitStopped = 0;
constexpr int kExitCannotListen = 1;
constexpr int kExitUsage = 2;
// How long the log may take to write what is queued once the simulator has
// stopped; the whole stop stays well within a second.
constexpr std::chrono::milliseconds kLogDrainLimit{400};

} // namespace

int main(int argc, char** argv)
{
    using namespace devicetools;
    SimulatorConfig config;
    std::string error;
    CommandLine line(argc, argv);
    switch (parseSimulatorArguments(line, config, error)) {
    case ParseResult::Help:
        std::cout << simulatorUsage();
        return kExitStopped;
    case ParseResult::UsageError:
        std::cerr << "devicesim: " << escapedText(error) << "\nTry devicesim --help.\n";
        return kExitUsage;
    case ParseResult::Run:
        break;
    }

    // Ctrl+C and SIGTERM are blocked in every thread and taken by sigwait
    // below, so no work ever runs in a signal handler. The mask is set before
    // the first thread starts, which inherits it.
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
    // only the log thread waits for the output, and the stop below never
    // waits for it longer than kLogDrainLimit.
    LineOutput output(STDOUT_FILENO);
    SimulatorLog log([&output](std::string_view text) { output.writeLine(text); });
    DeviceSimulator simulator(config, log);
    if (!simulator.start(error)) {
        std::cerr << "devicesim: " << escapedText(error) << '\n';
        log.close(kLogDrainLimit, [&output] { output.abandon(); });
        return kExitCannotListen;
    }
    if (!makeEndpoint(simulator.address(), 0).isLoopback()) {
        std::cerr << "devicesim: warning: listening on " << escapedText(config.listenHost)
                  << ", beyond the loopback network: other hosts can reach the simulator\n";
    }
    const std::string endpoint = endpointText(makeEndpoint(simulator.address(), simulator.port()));
    log.write({}, "devicesim listening on " + endpoint.substr(0, endpoint.rfind(':')) + " port " +
                      std::to_string(simulator.port()) + " (TCP and UDP); answers: " +
                      (config.rules ? "reply rules, then " : "") + (config.echo ? "echo" : "none") +
                      "; faults: " + config.faults.summary() + ". Ctrl+C stops.");

    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }
    log.write({},
              std::string("devicesim stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
    simulator.stop();
    log.close(kLogDrainLimit, [&output] { output.abandon(); });
    return kExitStopped;
}
