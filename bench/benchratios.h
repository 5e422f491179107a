#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

// A console reporter that also keeps each benchmark's counters (the median
// when repetitions are asked for, else the last run), so that a benchmark
// program can print ratios between benchmarks of the same run.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                continue;
            }
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const std::string& name = run.run_name.function_name;
            if (median) {
                haveMedian_[name] = true;
            } else if (run.run_type != Run::RT_Iteration || haveMedian_[name]) {
                continue;
            }
            for (const auto& [counter, value] : run.counters) {
                values_[{name, counter}] = value.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // A counter of a benchmark by its function name; 0 when unknown.
    double value(const std::string& name, const std::string& counter) const
    {
        const auto found = values_.find({name, counter});
        return found == values_.end() ? 0.0 : found->second;
    }

    // Prints "label  a MB/s / b MB/s = ratio (goal)" and returns the ratio.
    double printRatio(const char* label, const std::string& numerator,
                      const std::string& denominator, const char* goal) const
    {
        const double top = value(numerator, "bytes_per_second");
        const double bottom = value(denominator, "bytes_per_second");
        const double ratio = bottom > 0 ? top / bottom : 0.0;
        std::printf("%-44s %9.1f MB/s / %9.1f MB/s = %.2f  (%s)\n", label, top / 1e6, bottom / 1e6,
                    ratio, goal);
        return ratio;
    }

    // Prints "label  counter = value (goal)".
    void printCounter(const char* label, const std::string& name, const std::string& counter,
                      const char* goal) const
    {
        std::printf("%-44s %.2f  (%s)\n", label, value(name, counter), goal);
    }

private:
    std::map<std::pair<std::string, std::string>, double> values_;
    std::map<std::string, bool> haveMedian_;
};

// Runs the benchmarks named on the command line (all by default) through
// `reporter`. `defaults` are flags of the library that go before the
// command line's own, which can therefore override them. False for arguments
// the library does not know.
inline bool runBenchmarks(int argc, char** argv, RatioReporter& reporter,
                          std::vector<std::string> defaults = {})
{
    std::vector<char*> arguments(argv, argv + argc);
    arguments.insert(arguments.begin() + (argc > 0 ? 1 : 0), defaults.size(), nullptr);
    for (std::size_t i = 0; i < defaults.size(); ++i) {
        arguments[(argc > 0 ? 1 : 0) + i] = defaults[i].data();
    }
    int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
        return false;
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return true;
}
