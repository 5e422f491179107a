// FrameCheck on 2048-byte blocks against memchr over the same bytes.
//
// The blocks are built so that the check has to look at every byte: the
// passing block has its start, equal and dash spread over the block with the
// dash as its last byte; the failing block has start and equal but no dash.
// The baseline is one memchr over the same 2048 bytes for a byte that is not
// in them. Goal: the check on a passing block within 2x of memchr (ratio at
// least 0.5), with no allocation on its path.

#include "allocationcount.h"
#include "benchratios.h"

#include "protocol/framecheck.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace
{

constexpr std::size_t kBlockSize = 2048;
constexpr std::uint8_t kAbsentByte = 0xFF;

using Block = std::array<std::uint8_t, kBlockSize>;

// Printable filler with none of the delimiters, codes 7 to 9, NUL or 0xFF.
Block filler()
{
    static constexpr char kText[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz ";
    Block block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(kText[i % (sizeof kText - 1)]);
    }
    return block;
}

Block passingBlock(bool release)
{
    Block block = filler();
    block[kBlockSize / 3] = release ? protocol::DelimiterSet::kStartCode : '[';
    block[2 * kBlockSize / 3] = release ? protocol::DelimiterSet::kEqualCode : '=';
    block[kBlockSize - 1] = release ? protocol::DelimiterSet::kDashCode : '-';
    return block;
}

Block frameFirstBlock()
{
    Block block = filler();
    static constexpr char kFrame[] = "[BA139123439=ENT-Message / Description\r\n";
    std::memcpy(block.data(), kFrame, sizeof kFrame - 1);
    return block;
}

Block failingBlock()
{
    Block block = filler();
    block[kBlockSize / 3] = '[';
    block[2 * kBlockSize / 3] = '=';
    return block;
}

void finish(benchmark::State& state, long allocationsBefore)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlockSize);
    state.counters["allocations"] = static_cast<double>(allocationCount() - allocationsBefore);
}

void runMemchr(benchmark::State& state, Block block)
{
    const long before = allocationCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(block.data());
        const void* found = std::memchr(block.data(), kAbsentByte, block.size());
        benchmark::DoNotOptimize(found);
    }
    finish(state, before);
}

void BM_MemchrPassingBlock(benchmark::State& state)
{
    runMemchr(state, passingBlock(false));
}
void BM_MemchrFailingBlock(benchmark::State& state)
{
    runMemchr(state, failingBlock());
}

void BM_FrameCheckPassingDemo(benchmark::State& state)
{
    protocol::DelimiterSet set;
    protocol::FrameCheck check(set);
    Block block = passingBlock(false);
    const long before = allocationCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(block.data());
        benchmark::DoNotOptimize(check.check(block.data(), kBlockSize, kBlockSize));
        benchmark::ClobberMemory();
    }
    finish(state, before);
    if (check.dashFound() != 1) {
        state.SkipWithError("the passing block failed");
    }
}

void BM_FrameCheckPassingRelease(benchmark::State& state)
{
    protocol::DelimiterSet set;
    set.setModeFlag(1);
    protocol::FrameCheck check(set);
    const Block pristine = passingBlock(true);
    Block block = pristine;
    const long before = allocationCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(block.data());
        benchmark::DoNotOptimize(check.check(block.data(), kBlockSize, kBlockSize));
        benchmark::ClobberMemory();
        // The check made the three codes printable; put them back.
        block[kBlockSize / 3] = pristine[kBlockSize / 3];
        block[2 * kBlockSize / 3] = pristine[2 * kBlockSize / 3];
        block[kBlockSize - 1] = pristine[kBlockSize - 1];
    }
    finish(state, before);
    if (check.dashFound() != 1) {
        state.SkipWithError("the passing block failed");
    }
}

void BM_FrameCheckFrameFirst(benchmark::State& state)
{
    protocol::DelimiterSet set;
    protocol::FrameCheck check(set);
    Block block = frameFirstBlock();
    const long before = allocationCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(block.data());
        benchmark::DoNotOptimize(check.check(block.data(), kBlockSize, kBlockSize));
        benchmark::ClobberMemory();
    }
    finish(state, before);
}

void BM_FrameCheckFailing(benchmark::State& state)
{
    protocol::DelimiterSet set;
    protocol::FrameCheck check(set);
    const Block pristine = failingBlock();
    Block block = pristine;
    const long before = allocationCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(block.data());
        benchmark::DoNotOptimize(check.check(block.data(), kBlockSize, kBlockSize));
        benchmark::ClobberMemory();
        // The error text went over the first 24 bytes; put them back.
        std::memcpy(block.data(), pristine.data(), protocol::FrameCheck::kErrorFootprint);
    }
    finish(state, before);
    if (check.dashFound() != 0) {
        state.SkipWithError("the failing block passed");
    }
}

// Both in one loop, in alternating batches, so that a load from elsewhere on
// the machine weighs on both alike: the ratio of their times is the
// throughput ratio of the check to memchr.
void runInterleaved(benchmark::State& state, Block pristine, bool release)
{
    constexpr int kBatch = 512;
    protocol::DelimiterSet set;
    set.setModeFlag(release ? 1 : 0);
    protocol::FrameCheck check(set);
    Block block = pristine;
    std::chrono::steady_clock::duration memchrTime{}, checkTime{};
    const long before = allocationCount();
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatch; ++i) {
            benchmark::DoNotOptimize(block.data());
            const void* found = std::memchr(block.data(), kAbsentByte, block.size());
            benchmark::DoNotOptimize(found);
        }
        const auto t1 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatch; ++i) {
            benchmark::DoNotOptimize(block.data());
            benchmark::DoNotOptimize(check.check(block.data(), kBlockSize, kBlockSize));
            benchmark::ClobberMemory();
            // Undo what the check wrote: the error text, or the three codes.
            if (check.dashFound() == 0) {
                std::memcpy(block.data(), pristine.data(), protocol::FrameCheck::kErrorFootprint);
            } else if (release) {
                block[kBlockSize / 3] = pristine[kBlockSize / 3];
                block[2 * kBlockSize / 3] = pristine[2 * kBlockSize / 3];
                block[kBlockSize - 1] = pristine[kBlockSize - 1];
            }
        }
        checkTime += std::chrono::steady_clock::now() - t1;
        memchrTime += t1 - t0;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch * kBlockSize *
                            2);
    state.counters["allocations"] = static_cast<double>(allocationCount() - before);
    state.counters["check_vs_memchr"] = checkTime.count() > 0
                                            ? std::chrono::duration<double>(memchrTime).count() /
                                                  std::chrono::duration<double>(checkTime).count()
                                            : 0.0;
}

void BM_InterleavedPassingDemo(benchmark::State& state)
{
    runInterleaved(state, passingBlock(false), false);
}
void BM_InterleavedPassingRelease(benchmark::State& state)
{
    runInterleaved(state, passingBlock(true), true);
}
void BM_InterleavedFailing(benchmark::State& state)
{
    runInterleaved(state, failingBlock(), false);
}

constexpr int kRepetitions = 5;

BENCHMARK(BM_MemchrPassingBlock)->Repetitions(kRepetitions);
BENCHMARK(BM_FrameCheckPassingDemo)->Repetitions(kRepetitions);
BENCHMARK(BM_FrameCheckPassingRelease)->Repetitions(kRepetitions);
BENCHMARK(BM_FrameCheckFrameFirst)->Repetitions(kRepetitions);
BENCHMARK(BM_MemchrFailingBlock)->Repetitions(kRepetitions);
BENCHMARK(BM_FrameCheckFailing)->Repetitions(kRepetitions);
BENCHMARK(BM_InterleavedPassingDemo)->Repetitions(kRepetitions);
BENCHMARK(BM_InterleavedPassingRelease)->Repetitions(kRepetitions);
BENCHMARK(BM_InterleavedFailing)->Repetitions(kRepetitions);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nFrameCheck against memchr over the same 2048 bytes (medians):\n");
    reporter.printRatio("passing block, DEMO", "BM_FrameCheckPassingDemo", "BM_MemchrPassingBlock",
                        "goal >= 0.50");
    reporter.printRatio("passing block, RELEASE (3 bytes restored)", "BM_FrameCheckPassingRelease",
                        "BM_MemchrPassingBlock", "goal >= 0.50");
    reporter.printRatio("failing block (24 bytes restored)", "BM_FrameCheckFailing",
                        "BM_MemchrFailingBlock", "for information");
    reporter.printRatio("frame at the start of the block", "BM_FrameCheckFrameFirst",
                        "BM_MemchrPassingBlock", "for information");
    std::printf("\nThe same, timed in alternating batches of one loop (medians):\n");
    reporter.printCounter("passing block, DEMO", "BM_InterleavedPassingDemo", "check_vs_memchr",
                          "goal >= 0.50");
    reporter.printCounter("passing block, RELEASE (bytes restored)", "BM_InterleavedPassingRelease",
                          "check_vs_memchr", "goal >= 0.50");
    reporter.printCounter("failing block (bytes restored)", "BM_InterleavedFailing",
                          "check_vs_memchr", "for information");
    return 0;
}
