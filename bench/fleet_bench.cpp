// Checking a fleet: devicecheck against `devicesim --devices 1000` on
// loopback, a check of three frames each with its expected answer, 256
// devices at a time. Prints the time and devicecheck's peak memory next to
// their goals (under 5 s, under 100 MB), then the same check done by a loop
// of framesend calls (one a frame) over the first 100 devices, scaled to
// 1000, and how many times faster devicecheck was, measured in the same run.
//
// Usage: fleet_bench [--devices N] [--loop-devices M]
//   defaults: 1000 devices, 100 in the framesend loop; the simulator takes
//   free ports of its own choosing.

#include "childprogram.h"
#include "temporaryfolder.h"

#include "check/checkfile.h"
#include "protocol/framedefaults.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;

constexpr int kFrames = 3;
constexpr auto kReadyLimit = 30s;
constexpr auto kRunLimit = 300s;
constexpr double kGoalSeconds = 5.0;
constexpr double kGoalMegabytes = 100.0;
constexpr double kGoalRatio = 10.0;
constexpr double kKiBPerMB = 1024.0;

check::CheckFile threeFrames()
{
    check::CheckFile file;
    for (int i = 1; i <= kFrames; ++i) {
        check::SendStep send;
        send.fields = protocol::defaultFrameFields();
        send.fields.data = std::to_string(i);
        file.steps.push_back({"send " + std::to_string(i), send});
        check::ExpectStep expect;
        expect.frame.command = "ENT";
        expect.frame.data = std::to_string(i);
        file.steps.push_back({"answer " + std::to_string(i), expect});
    }
    return file;
}

// True once a TCP connect to 127.0.0.1:port succeeds.
bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// The first port of the fleet, once the simulator's start line (in its output
// file) names it; 0 before.
int announcedPort(const std::string& output)
{
    std::ifstream in(output);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string marker = "127.0.0.1 ports ";
    const std::size_t at = text.find(marker);
    return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + marker.size());
}

int option(int argc, char** argv, const char* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return std::atoi(argv[i + 1]);
        }
    }
    return fallback;
}

} // namespace

int main(int argc, char** argv)
{
    const int devices = option(argc, argv, "--devices", 1000);
    const int loopDevices = std::min(option(argc, argv, "--loop-devices", 100), devices);

    TemporaryFolder folder;
    const std::string checkPath = (folder.path() / "fleet.check").string();
    std::ofstream(checkPath) << check::writeCheckFile(threeFrames());

    const std::string simulatorOutput = (folder.path() / "devicesim.txt").string();
    ChildProgram simulator(DEVICESIM_PATH,
                           {"--port", "0", "--devices", std::to_string(devices), "--log-rate", "1"},
                           simulatorOutput);
    const auto readyBy = std::chrono::steady_clock::now() + kReadyLimit;
    int firstPort = 0;
    while ((firstPort = announcedPort(simulatorOutput)) == 0 || !accepts(firstPort + devices - 1)) {
        if (!simulator.running() || std::chrono::steady_clock::now() > readyBy) {
            std::ifstream said(simulatorOutput);
            std::printf("fleet: devicesim did not start: %s\n",
                        std::string(std::istreambuf_iterator<char>(said), {}).c_str());
            return 1;
        }
        std::this_thread::sleep_for(10ms);
    }
    const int lastPort = firstPort + devices - 1;

    const std::string output = (folder.path() / "devicecheck.txt").string();
    const ChildProgram::Result fleet = ChildProgram::run(
        DEVICECHECK_PATH,
        {checkPath, "127.0.0.1:" + std::to_string(firstPort) + '-' + std::to_string(lastPort),
         "--jobs", "256"},
        kRunLimit, output);
    std::ifstream summary(output);
    for (std::string line; std::getline(summary, line);) {
        std::printf("  devicecheck: %s\n", line.c_str());
    }
    const double seconds = fleet.wall.count();
    const double megabytes = static_cast<double>(fleet.maxRssKiB) / kKiBPerMB;
    std::printf("fleet: %d devices in %.2f s (goal under %.0f s%s), devicecheck RSS %.1f MB "
                "(goal under %.0f MB%s), exit %d\n",
                devices, seconds, kGoalSeconds, seconds < kGoalSeconds ? ", met" : ", missed",
                megabytes, kGoalMegabytes, megabytes < kGoalMegabytes ? ", met" : ", missed",
                fleet.status);

    const auto loopStart = std::chrono::steady_clock::now();
    int loopFailures = 0;
    for (int port = firstPort; port < firstPort + loopDevices; ++port) {
        for (int frame = 1; frame <= kFrames; ++frame) {
            const ChildProgram::Result call = ChildProgram::run(
                FRAMESEND_PATH, {"--port", std::to_string(port), "--data", std::to_string(frame)},
                kRunLimit);
            loopFailures += call.status == 0 ? 0 : 1;
        }
    }
    const double loopSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - loopStart).count();
    const double scaled = loopSeconds * devices / loopDevices;
    const double ratio = scaled / seconds;
    std::printf("framesend loop: %d calls over %d devices in %.2f s (%d failed), scaled to %d "
                "devices %.1f s; devicecheck %.2f s = %.1f times faster (goal at least %.0f%s)\n",
                loopDevices * kFrames, loopDevices, loopSeconds, loopFailures, devices, scaled,
                seconds, ratio, kGoalRatio, ratio >= kGoalRatio ? ", met" : ", missed");
    return fleet.status == 0 && loopFailures == 0 ? 0 : 1;
}
