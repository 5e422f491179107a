// The receive path without a GUI: a loopback TCP peer sends 200 MB of frames
// as fast as it can, and the bytes per second through SocketChannel, FrameCheck
// and a view that only counts are set against a plain recv loop into a
// 2048-byte buffer over the same kind of connection in the same run.
// Goal: the channel path reaches at least 0.8 of the plain loop, also with
// the traffic recorded to files (a ChannelRecorder feeding a FileRecorder in a
// temporary folder, at the default disk bound, so old files are deleted as
// the run goes on). For information, the plain loop that also hands every
// block's raw bytes to a file (no format at all) shows the most any recording
// to files can reach on the machine at hand. The same recording as pcapng
// files is set against that plain loop writing raw bytes (goal: at least 0.8).
//
// The peer shares the machine, and on loopback the kernel's TCP work lands on
// whichever thread happens to hand it on, so with two cores the ratios depend
// on how the threads meet. Run under `taskset -c 0`, all threads share one
// core and the ratios are those of the processor time each path takes.

#include "benchratios.h"
#include "countingviewwindow.h"
#include "loopbacktcpserver.h"
#include "rawfilewriter.h"
#include "temporaryfolder.h"

#include "protocol/messageviewchannel.h"
#include "traffic/channelrecorder.h"
#include "traffic/filerecorder.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kFrame = "[BA139123439=ENT-Message / Description\r\n"; // 40 bytes
constexpr std::size_t kFramesPerSend = 1600;                                      // 64000 bytes
constexpr std::size_t kSends = 3125;                                              // 200 MB in all
constexpr std::uint64_t kTotalBytes = kSends * kFramesPerSend * kFrame.size();
constexpr auto kAcceptLimit = 10s;
constexpr auto kRunLimit = 120s;
constexpr int kRepetitions = 9;

// The peer: listens on 127.0.0.1, accepts one connection and sends kSends
// blocks of whole frames (or stops at kRunLimit), then closes.
class FrameSender
{
public:
    FrameSender()
    {
        for (std::size_t i = 0; i < kFramesPerSend; ++i) {
            chunk_.append(kFrame);
        }
    }

    ~FrameSender()
    {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    std::uint16_t port() const { return server_.listening() ? server_.port() : 0; }

    void start()
    {
        thread_ = std::thread([this] { run(); });
    }
    void join() { thread_.join(); }
    std::uint64_t sent() const { return sent_; }

private:
    void run()
    {
        if (!server_.accept(kAcceptLimit)) {
            return;
        }
        const auto deadline = Clock::now() + kRunLimit;
        for (std::size_t i = 0; i < kSends && Clock::now() < deadline; ++i) {
            if (!server_.send(chunk_)) {
                break;
            }
            sent_ += chunk_.size();
        }
        server_.closeConnection();
    }

    LoopbackTcpServer server_;
    std::string chunk_;
    std::thread thread_;
    std::uint64_t sent_ = 0;
};

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// How the plain loop treats each block besides counting it.
enum class LoopExtra {
    None,
    // A poll with the watcher's 100 ms time-out before each read and a yield
    // after it, as the channel's run loop does, which tells the cost of that
    // read pattern apart from the check and the view.
    LikeWatcher,
    // The block's bytes to a RawFileWriter.
    RawToFile,
};

// The plain loop: recv into a 2048-byte buffer until the peer closes.
void runRecvLoop(benchmark::State& state, LoopExtra extra)
{
    const bool likeWatcher = extra == LoopExtra::LikeWatcher;
    for (auto _ : state) {
        TemporaryFolder folder;
        std::optional<RawFileWriter> raw;
        if (extra == LoopExtra::RawToFile) {
            raw.emplace(folder.path() / "raw.bin");
            if (!raw->opened()) {
                state.SkipWithError("no file for the raw bytes");
                return;
            }
        }
        FrameSender sender;
        const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(sender.port());
        if (sender.port() == 0 || socket < 0 ||
            ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            state.SkipWithError("no loopback connection");
            if (socket >= 0) {
                ::close(socket);
            }
            return;
        }
        const auto begin = Clock::now();
        sender.start();
        std::uint8_t buffer[2048];
        std::uint64_t received = 0;
        while (true) {
            if (likeWatcher) {
                pollfd readable{socket, POLLIN, 0};
                ::poll(&readable, 1, static_cast<int>(net::SocketChannel::kReadTimeoutMs));
            }
            const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
            if (likeWatcher) {
                std::this_thread::yield();
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            received += static_cast<std::uint64_t>(n);
            if (raw) {
                raw->add(buffer, static_cast<std::size_t>(n));
            }
            benchmark::DoNotOptimize(buffer);
        }
        // The time includes writing the last piece; deleting the file (with
        // the folder, when it goes) is not timed, as for the recorder's files.
        const std::uint64_t written = raw ? raw->finish() : 0;
        const auto end = Clock::now();
        ::close(socket);
        sender.join();
        state.SetIterationTime(seconds(end - begin));
        if (received != kTotalBytes || (raw && written != kTotalBytes)) {
            state.SkipWithError("the plain loop did not receive (or write) every byte");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotalBytes));
}

void BM_PlainRecvLoop(benchmark::State& state)
{
    runRecvLoop(state, LoopExtra::None);
}
void BM_PollRecvYieldLoop(benchmark::State& state)
{
    runRecvLoop(state, LoopExtra::LikeWatcher);
}
void BM_PlainRecvLoopWritingRaw(benchmark::State& state)
{
    runRecvLoop(state, LoopExtra::RawToFile);
}

// The channel path; with `recording`, every block also goes to a file
// recorder in `format` (its writer thread formats and writes while the
// watcher reads).
void runChannelPath(benchmark::State& state, bool recording,
                    traffic::FileRecorder::Format format = traffic::FileRecorder::Format::Text)
{
    const std::uint64_t dropLine =
        protocol::MessageViewChannel::eventText(net::ChannelEvent::ConnectionDropped).size();
    for (auto _ : state) {
        TemporaryFolder folder;
        traffic::ChannelRecorder recorder;
        std::shared_ptr<traffic::FileRecorder> files;
        FrameSender sender;
        CountingViewWindow view;
        protocol::DelimiterSet delimiters;
        protocol::MessageViewChannel channel(delimiters);
        channel.setView(&view);
        if (recording) {
            files = std::make_shared<traffic::FileRecorder>(traffic::FileRecorder::Options{
                folder.path(), traffic::FileRecorder::kDefaultDiskLimitBytes, format});
            recorder.setSinks({files});
            channel.setObserver(&recorder);
        }
        const std::string port = std::to_string(sender.port());
        if (sender.port() == 0 ||
            !channel.openClient("127.0.0.1", port.c_str(), AF_INET, SOCK_STREAM)) {
            state.SkipWithError("no loopback connection");
            return;
        }
        const auto begin = Clock::now();
        sender.start();
        if (!channel.startWatcher()) {
            state.SkipWithError("the watcher did not start");
            return;
        }
        // The peer's close after its last byte ends the watcher with the
        // drop event, so the event marks the end of the data.
        const bool ended = view.waitForPosts(1, kRunLimit + kAcceptLimit);
        // With recording, the time includes writing what was still queued.
        traffic::FileRecorder::Status status;
        if (files) {
            recorder.setSinks({});
            status = files->status();
            files.reset();
        }
        const auto end = Clock::now();
        channel.stop();
        sender.join();
        state.SetIterationTime(seconds(end - begin));
        if (recording) {
            state.counters["records_dropped"] = static_cast<double>(status.recordsDropped);
            if (!status.recording) {
                state.SkipWithError(("recording stopped: " + status.error).c_str());
                return;
            }
        }
        if (!ended || sender.sent() != kTotalBytes) {
            state.SkipWithError("the channel did not receive every byte in time");
            return;
        }
        if (view.bytes() != kTotalBytes + dropLine) {
            // A block that split frames so that it held no whole frame shows
            // as the error line instead; say how far off the count is.
            state.counters["shown_minus_sent"] =
                static_cast<double>(view.bytes()) - static_cast<double>(kTotalBytes + dropLine);
        }
        state.counters["blocks"] = static_cast<double>(view.appends() - 1);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotalBytes));
}

void BM_ChannelReceivePath(benchmark::State& state)
{
    runChannelPath(state, false);
}
void BM_ChannelReceivePathRecording(benchmark::State& state)
{
    runChannelPath(state, true);
}
void BM_ChannelReceivePathRecordingPcapng(benchmark::State& state)
{
    runChannelPath(state, true, traffic::FileRecorder::Format::Pcapng);
}

BENCHMARK(BM_PlainRecvLoop)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollRecvYieldLoop)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRecvLoopWritingRaw)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChannelReceivePath)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChannelReceivePathRecording)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChannelReceivePathRecordingPcapng)
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    RatioReporter reporter;
    // The machine's pace drifts over a run by more than the differences
    // measured here; with the repetitions of all variants run in a random
    // order, the drift weighs on every variant alike instead of on whichever
    // ran during a slow spell.
    if (!runBenchmarks(argc, argv, reporter, {"--benchmark_enable_random_interleaving=true"})) {
        return 1;
    }

    std::printf("\nReceive path over loopback TCP, %llu bytes of frames per run (medians):\n",
                static_cast<unsigned long long>(kTotalBytes));
    reporter.printRatio("channel + FrameCheck + counting view", "BM_ChannelReceivePath",
                        "BM_PlainRecvLoop", "goal >= 0.80");
    reporter.printRatio("poll + recv + yield per block, no check", "BM_PollRecvYieldLoop",
                        "BM_PlainRecvLoop", "for information: the watcher's read pattern");
    reporter.printRatio("channel against that read pattern", "BM_ChannelReceivePath",
                        "BM_PollRecvYieldLoop", "for information: check and view cost");
    reporter.printRatio("channel with recording to files", "BM_ChannelReceivePathRecording",
                        "BM_ChannelReceivePath", "for information: the recording's cost");
    const double recording =
        reporter.printRatio("channel with recording to files", "BM_ChannelReceivePathRecording",
                            "BM_PlainRecvLoop", "goal >= 0.80");
    const double floor =
        reporter.printRatio("plain recv + raw bytes to a file", "BM_PlainRecvLoopWritingRaw",
                            "BM_PlainRecvLoop", "for information: raw bytes, no format");
    std::printf("plain recv + raw bytes to a file / plain recv loop = %.2f  (for information: the "
                "most any recording to files can reach here)\n",
                floor);
    std::printf("receive path with recording to files / plain recv loop = %.2f\n", recording);
    const double pcapng =
        reporter.printRatio("channel with pcapng recording", "BM_ChannelReceivePathRecordingPcapng",
                            "BM_PlainRecvLoopWritingRaw", "goal >= 0.80");
    std::printf("receive path with pcapng recording / raw bytes to a file = %.2f\n", pcapng);
    return 0;
}
