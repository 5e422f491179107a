#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// Measures how responsive the UI thread is while a benchmark loads it: a
// thread posts a stamped event every kInterval (how long each waits is how
// long the operator's input would), and a precise kInterval timer records how
// late it fires. Created, started, stopped and read on the UI thread; start()
// clears the samples of the run before, stop() joins the posting thread.
class UiLatencyProbe : public QObject
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{10};

    UiLatencyProbe() = default;
    ~UiLatencyProbe() override { stop(); }
    UiLatencyProbe(const UiLatencyProbe&) = delete;
    UiLatencyProbe& operator=(const UiLatencyProbe&) = delete;

    std::vector<double> postedDelaysMs;
    std::vector<double> timerLatenessMs;

    void start();
    void stop();

    bool event(QEvent* event) override;

private:
    std::atomic<bool> running_{false};
    std::thread poster_;
    QTimer timer_;
    Clock::time_point lastTick_{};
};

// A duration in milliseconds.
double toMs(std::chrono::steady_clock::duration d);

// The p-th percentile (0..100) of `values`, nearest rank below; 0 when empty.
double percentile(std::vector<double> values, double p);

// Prints "label  p50 .. p99 .. max .. (n samples)" in ms, the label indented
// by `indent` spaces and padded to `width`.
void printDistribution(const char* label, const std::vector<double>& values, int width = 40,
                       int indent = 0);

// A "Field:" of /proc/self/status in kB (VmRSS:, VmHWM:); 0 when absent.
long statusKb(const char* field);
