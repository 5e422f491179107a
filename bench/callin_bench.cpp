// Devices that call in, checked: devicecheck --listen with the example check
// file, and `devicesim --devices 1000 --connect` dialing it on loopback.
// Prints the time from the first dial to devicecheck's end (an upper bound
// of the time from the last device's connect, the goal's measure: under 5 s)
// and devicecheck's peak memory (goal under 100 MB), then how long the
// simulator took to have every device connected.
//
// Usage: callin_bench [--devices N]   (default 1000)

#include "benchoptions.h"
#include "childprogram.h"
#include "temporaryfolder.h"

#include "socket/endpoint.h"
#include "socket/streamlistener.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace
{

using namespace std::chrono_literals;

constexpr double kGoalSeconds = 5.0;
constexpr double kGoalMegabytes = 100.0;
constexpr auto kRunLimit = 120s;

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}


} // namespace

int main(int argc, char** argv)
{
    const int devices = intOption(argc, argv, "--devices", 1000);
    TemporaryFolder folder;
    const std::uint16_t port = freeLoopbackPort();
    const std::string host = "127.0.0.1:" + std::to_string(port);
    const std::string checkOutput = (folder.path() / "devicecheck.txt").string();
    const std::string simOutput = (folder.path() / "devicesim.txt").string();

    ChildProgram check(DEVICECHECK_PATH,
                       {EXAMPLE_CHECK_FILE_PATH, "--listen", host, "--expect",
                        std::to_string(devices), "--jobs", std::to_string(devices), "--listen-time",
                        "100"},
                       checkOutput);
    // devicecheck says where it listens once it does.
    const auto readyBy = std::chrono::steady_clock::now() + 20s;
    while (fileText(checkOutput).find("listen") == std::string::npos) {
        if (!check.running() || std::chrono::steady_clock::now() > readyBy) {
            std::printf("callin: devicecheck did not start listening: %s\n",
                        fileText(checkOutput).c_str());
            return 1;
        }
        std::this_thread::sleep_for(5ms);
    }
    const auto firstDial = std::chrono::steady_clock::now();
    ChildProgram simulator(DEVICESIM_PATH,
                           {"--devices", std::to_string(devices), "--connect", host}, simOutput);
    const ChildProgram::Result result = check.wait(kRunLimit);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - firstDial).count();
    std::ifstream summary(checkOutput);
    for (std::string line; std::getline(summary, line);)
        if (line.find("passed") != std::string::npos || line.find("failed") != std::string::npos)
            std::printf("  devicecheck: %s\n", line.c_str());
    const double megabytes = static_cast<double>(result.maxRssKiB) / 1024.0;
    std::printf("callin: %d devices called in and were checked %.2f s after the first dial "
                "(goal under %.0f s from the last connect%s), devicecheck RSS %.1f MB (goal "
                "under %.0f MB%s), exit %d\n",
                devices, seconds, kGoalSeconds, seconds < kGoalSeconds ? ", met" : ", missed",
                megabytes, kGoalMegabytes, megabytes < kGoalMegabytes ? ", met" : ", missed",
                result.status);
    return result.status == 0 ? 0 : 1;
}
