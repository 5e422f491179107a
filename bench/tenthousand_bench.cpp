// Ten thousand devices held at once on one machine. First devicesim dials
// 10,000 devices (`--devices 10000 --connect`) into a host of the benchmark's
// own, which holds them idle and then times 1000 frames to one of them, one
// at a time: the device's answer p99 while the others are held. Then
// devicecheck --listen holds 9,999 idle devices that called in (a check that
// waits for their answer) while one more device answers every frame at once:
// the time from its answer to devicecheck's next frame, p99. Prints each
// program's memory (RSS, goal under 500 MB) and the p99 (goal under 5 ms).
//
// Usage: tenthousand_bench [--devices N]   (default 10000)

#include "childprogram.h"
#include "temporaryfolder.h"

#include "protocol/commandframe.h"
#include "protocol/framedefaults.h"
#include "socket/eventloop.h"
#include "socket/loopdialer.h"
#include "socket/loopstream.h"
#include "socket/openfilelimit.h"
#include "socket/streamlistener.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Millis = net::EventLoop::Millis;

constexpr double kGoalMegabytes = 500.0;
constexpr double kGoalP99Ms = 5.0;
constexpr int kProbes = 1000;

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

long rssKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()))];
}

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string frame()
{
    return protocol::wireBlock(
        protocol::composeFrame(protocol::defaultFrameFields(), protocol::DelimiterMode::Demo));
}

// A loop on a thread of its own that the benchmark hands work to.
struct LoopThread {
    net::EventLoop loop;
    std::thread thread{[this] { (void)loop.run(); }};
    // Runs `clear` on the loop, then ends it: what the loop's handlers use is
    // gone before the owner's members are.
    void stop(const std::function<void()>& clear)
    {
        if (!thread.joinable())
            return;
        loop.post(clear);
        loop.quit();
        thread.join();
    }
    ~LoopThread()
    {
        stop([] {});
    }
};

// The host devicesim's devices dial: holds every connection, then times
// frames to the first one.
struct Host {
    LoopThread runner;
    std::unique_ptr<net::StreamListener> listener;
    std::vector<std::unique_ptr<net::LoopStream>> held;
    std::atomic<int> accepted{0};
    std::atomic<int> probesDone{0};
    std::vector<double> latencies;
    Clock::time_point sentAt;

    std::uint16_t listen()
    {
        std::atomic<std::uint16_t> port{0};
        runner.loop.post([&] {
            const base::Result<int> fd =
                net::StreamListener::open(*net::Endpoint::fromNumeric("127.0.0.1", 0));
            if (!fd)
                return;
            listener = std::make_unique<net::StreamListener>(
                runner.loop, *fd, [this](int socket, const net::Endpoint&) { take(socket); });
            if (listener->start().ok())
                port = listener->local().port();
        });
        waitFor([&] { return port.load() != 0; }, 10s);
        return port.load();
    }
    void take(int fd)
    {
        const std::size_t index = held.size();
        held.push_back(std::make_unique<net::LoopStream>(runner.loop, fd));
        (void)held.back()->start(
            [this, index](std::string_view bytes) {
                if (index == 0 && bytes.find('\n') != std::string_view::npos)
                    answered();
            },
            [](const base::Error&) {});
        ++accepted;
    }
    void probe()
    {
        runner.loop.post([this] {
            sentAt = Clock::now();
            (void)held.front()->send(frame());
        });
    }
    void answered()
    {
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - sentAt).count());
        if (++probesDone < kProbes) {
            sentAt = Clock::now();
            (void)held.front()->send(frame());
        }
    }
    ~Host()
    {
        runner.stop([this] {
            held.clear();
            listener.reset();
        });
    }
};

bool simulatorHolds(int devices, const std::string& folder)
{
    Host host;
    const std::uint16_t port = host.listen();
    const std::string output = folder + "/devicesim.txt";
    ChildProgram simulator(
        DEVICESIM_PATH,
        {"--devices", std::to_string(devices), "--connect", "127.0.0.1:" + std::to_string(port)},
        output);
    const auto started = Clock::now();
    if (!waitFor([&] { return host.accepted.load() >= devices; }, 120s)) {
        std::printf("devicesim: only %d of %d devices connected: %s\n", host.accepted.load(),
                    devices, fileText(output).substr(0, 400).c_str());
        return false;
    }
    const double connectSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    host.probe();
    waitFor([&] { return host.probesDone.load() >= kProbes; }, 60s);
    const double rssMB = static_cast<double>(rssKiB(simulator.pid())) / 1024.0;
    std::vector<double> latencies;
    host.runner.loop.post([&] { latencies = host.latencies; });
    std::this_thread::sleep_for(50ms);
    const double p99 = percentile(latencies, 0.99);
    std::printf("devicesim: %d devices dialed in within %.2f s and held; RSS %.1f MB (goal under "
                "%.0f MB%s); one device's answer p99 %.2f ms, p50 %.2f ms over %zu frames "
                "(goal under %.0f ms%s)\n",
                devices, connectSeconds, rssMB, kGoalMegabytes,
                rssMB < kGoalMegabytes ? ", met" : ", missed", p99, percentile(latencies, 0.5),
                latencies.size(), kGoalP99Ms, p99 >= 0 && p99 < kGoalP99Ms ? ", met" : ", missed");
    return true;
}

// Devices that call devicecheck: `idle` that never answer, then one that
// answers every frame at once and times devicecheck's next frame.
struct Callers {
    LoopThread runner;
    std::vector<std::unique_ptr<net::LoopDialer>> dialers;
    std::vector<std::unique_ptr<net::LoopStream>> streams;
    std::atomic<int> connected{0};
    std::atomic<int> rounds{0};
    std::vector<double> turnaround;
    Clock::time_point answeredAt;
    bool answeredOnce = false;
    std::string pending;

    ~Callers()
    {
        runner.stop([this] {
            streams.clear();
            dialers.clear();
        });
    }
    void dial(const net::Endpoint& host, int count, bool active)
    {
        runner.loop.post([this, host, count, active] {
            for (int i = 0; i < count; ++i) {
                dialers.push_back(std::make_unique<net::LoopDialer>(
                    runner.loop, [this, active](base::Result<int> fd) {
                        if (fd)
                            attach(*fd, active);
                    }));
                dialers.back()->dial(host, Millis(30000));
            }
        });
    }
    void attach(int fd, bool active)
    {
        streams.push_back(std::make_unique<net::LoopStream>(runner.loop, fd));
        net::LoopStream* stream = streams.back().get();
        ++connected;
        if (!active) {
            (void)stream->start([](std::string_view) {}, [](const base::Error&) {});
            return;
        }
        (void)stream->start(
            [this, stream](std::string_view bytes) {
                pending += bytes;
                // Each frame of devicecheck's ends with CR LF and a NUL.
                std::size_t end = 0;
                while ((end = pending.find('\n')) != std::string::npos) {
                    const std::string line = pending.substr(0, end + 1);
                    pending.erase(0, end + 1);
                    if (!pending.empty() && pending.front() == '\0')
                        pending.erase(0, 1);
                    if (answeredOnce)
                        turnaround.push_back(
                            std::chrono::duration<double, std::milli>(Clock::now() - answeredAt)
                                .count());
                    answeredAt = Clock::now();
                    answeredOnce = true;
                    (void)stream->send(line);
                    ++rounds;
                }
            },
            [](const base::Error&) {});
    }
};

bool checkerHolds(int devices, const std::string& folder)
{
    const std::string checkPath = folder + "/hold.toml";
    std::ofstream(checkPath) << "[defaults]\ntimeout = \"600s\"\nrepeat = 400\n"
                                "[[step]]\nsend = { media = \"B\", id = \"A1\", data = \"1\", "
                                "command = \"ENT\" }\n"
                                "[[step]]\nexpect = { command = \"ENT\" }\n";
    const base::Result<int> probe =
        net::StreamListener::open(*net::Endpoint::fromNumeric("127.0.0.1", 0));
    const std::uint16_t port = probe ? net::Endpoint::localOf(*probe).port() : 0;
    if (probe)
        ::close(*probe);
    const std::string output = folder + "/devicecheck.txt";
    ChildProgram check(DEVICECHECK_PATH,
                       {checkPath, "--listen", "127.0.0.1:" + std::to_string(port), "--expect",
                        std::to_string(devices), "--jobs", std::to_string(devices), "--listen-time",
                        "300", "--device-timeout", "600000"},
                       output);
    if (!waitFor([&] { return fileText(output).find("listen") != std::string::npos; }, 20s)) {
        std::printf("devicecheck did not listen: %s\n", fileText(output).c_str());
        return false;
    }
    const net::Endpoint host = *net::Endpoint::fromNumeric("127.0.0.1", port);
    Callers callers;
    callers.dial(host, devices - 1, false);
    if (!waitFor([&] { return callers.connected.load() >= devices - 1; }, 120s)) {
        std::printf("devicecheck: only %d of %d idle devices connected\n", callers.connected.load(),
                    devices - 1);
        return false;
    }
    callers.dial(host, 1, true);
    waitFor([&] { return callers.rounds.load() >= 400; }, 60s);
    const double rssMB = static_cast<double>(rssKiB(check.pid())) / 1024.0;
    std::vector<double> turnaround;
    callers.runner.loop.post([&] { turnaround = callers.turnaround; });
    std::this_thread::sleep_for(50ms);
    const double p99 = percentile(turnaround, 0.99);
    std::printf("devicecheck: %d devices called in and held; RSS %.1f MB (goal under %.0f MB%s); "
                "the answering device's turn (its answer to the next frame) p99 %.2f ms, p50 "
                "%.2f ms over %zu rounds (goal under %.0f ms%s)\n",
                devices, rssMB, kGoalMegabytes, rssMB < kGoalMegabytes ? ", met" : ", missed", p99,
                percentile(turnaround, 0.5), turnaround.size(), kGoalP99Ms,
                p99 >= 0 && p99 < kGoalP99Ms ? ", met" : ", missed");
    return true;
}

int option(int argc, char** argv, const char* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    return fallback;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int devices = option(argc, argv, "--devices", 10000);
    const net::OpenFileLimit limit = net::raiseOpenFileLimit(2ull * devices + 256);
    if (limit.soft < static_cast<std::uint64_t>(devices) + 256) {
        std::printf("tenthousand: the open-file limit is %llu; %d devices need more\n",
                    static_cast<unsigned long long>(limit.soft), devices);
        return 1;
    }
    TemporaryFolder folder;
    const bool simulator = simulatorHolds(devices, folder.path().string());
    const bool checker = checkerHolds(devices, folder.path().string());
    return simulator && checker ? 0 : 1;
}
