// Checking a fleet of encrypted devices: devicecheck with TLS (every device
// pinned by its fingerprint in the targets file) against
// `devicesim --devices 1000 --tls` on loopback, the example check file on
// each, 256 devices at a time and connections unpaced; both ends' handshakes
// share the machine.
// Prints the time (goal under 10 s) and devicecheck's peak memory (goal
// under 150 MB), then the same run without TLS, measured in the same run, and
// what TLS costs as a ratio.
//
// Usage: tlsfleet_bench [--devices N]   (default 1000)

#include "benchoptions.h"
#include "childprogram.h"
#include "temporaryfolder.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace
{

using namespace std::chrono_literals;

constexpr double kGoalSeconds = 10.0;
constexpr double kGoalMegabytes = 150.0;

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The simulator's first port, once its start line names it; 0 before.
int firstPortIn(const std::string& text)
{
    const std::size_t ports = text.find("127.0.0.1 ports ");
    return ports == std::string::npos ? 0 : std::atoi(text.c_str() + ports + 16);
}

// The fingerprint of the certificate the simulator made, from its start line.
std::string fingerprintIn(const std::string& text)
{
    const std::size_t at = text.find("certificate SHA256:");
    const std::size_t length = 7 + 32 * 3 - 1; // "SHA256:" and 32 hex pairs
    return at == std::string::npos ? std::string() : text.substr(at + 12, length);
}

struct Run {
    double seconds = 0;
    double megabytes = 0;
    int status = -1;
    std::string summary;
};

Run check(const std::string& folder, int devices, bool tls)
{
    const std::string simOutput = folder + (tls ? "/sim-tls.txt" : "/sim.txt");
    std::vector<std::string> simArguments = {
        "--port", "0", "--devices", std::to_string(devices), "--log-rate", "1"};
    if (tls)
        simArguments.push_back("--tls");
    ChildProgram simulator(DEVICESIM_PATH, simArguments, simOutput);
    const auto readyBy = std::chrono::steady_clock::now() + 30s;
    while (firstPortIn(fileText(simOutput)) == 0) {
        if (!simulator.running() || std::chrono::steady_clock::now() > readyBy) {
            std::printf("devicesim did not start: %s\n", fileText(simOutput).c_str());
            return {};
        }
        std::this_thread::sleep_for(10ms);
    }
    const int firstPort = firstPortIn(fileText(simOutput));
    const std::string fingerprint = fingerprintIn(fileText(simOutput));
    // Every device pinned by the fingerprint the simulator printed.
    const std::string targets = folder + (tls ? "/targets-tls.csv" : "/targets.csv");
    {
        std::ofstream out(targets);
        out << "host,port" << (tls ? ",fingerprint" : "") << "\n";
        for (int i = 0; i < devices; ++i)
            out << "127.0.0.1," << firstPort + i << (tls ? "," + fingerprint : "") << "\n";
    }
    // Listening may lag the start line by a moment.
    std::this_thread::sleep_for(200ms);
    // Connections unpaced (the default 500 a second would hide the cost).
    std::vector<std::string> arguments = {
        EXAMPLE_CHECK_FILE_PATH, "--targets", targets, "--jobs", "256", "--rate", "100000"};
    if (tls)
        arguments.push_back("--tls");
    const std::string output = folder + (tls ? "/check-tls.txt" : "/check.txt");
    const ChildProgram::Result result =
        ChildProgram::run(DEVICECHECK_PATH, arguments, 300s, output);
    Run run;
    run.seconds = result.wall.count();
    run.megabytes = static_cast<double>(result.maxRssKiB) / 1024.0;
    run.status = result.status;
    std::ifstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (line.find(" devices in ") != std::string::npos)
            run.summary = line;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int devices = intOption(argc, argv, "--devices", 1000);
    TemporaryFolder folder;
    const Run plain = check(folder.path().string(), devices, false);
    const Run tls = check(folder.path().string(), devices, true);
    std::printf("  devicecheck without TLS: %s\n  devicecheck with TLS: %s\n",
                plain.summary.c_str(), tls.summary.c_str());
    std::printf("tlsfleet: %d TLS devices, every one pinned, in %.2f s (goal under %.0f s, %s), "
                "devicecheck RSS %.1f MB (goal under %.0f MB, %s), exit %d; without TLS %.2f s, "
                "%.1f MB: TLS takes %.1f times as long\n",
                devices, tls.seconds, kGoalSeconds, tls.seconds < kGoalSeconds ? "met" : "missed",
                tls.megabytes, kGoalMegabytes, tls.megabytes < kGoalMegabytes ? "met" : "missed",
                tls.status, plain.seconds, plain.megabytes,
                plain.seconds > 0 ? tls.seconds / plain.seconds : 0.0);
    return tls.status == 0 && plain.status == 0 ? 0 : 1;
}
