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
// Where the spread blocks hold start, equal and dash: the dash is the last byte.
constexpr std::size_t kDelimiterAt[] = {kBlockSize / 3, 2 * kBlockSize / 3, kBlockSize - 1};

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
    block[kDelimiterAt[0]] = release ? protocol::DelimiterSet::kStartCode : '[';
    block[kDelimiterAt[1]] = release ? protocol::DelimiterSet::kEqualCode : '=';
    block[kDelimiterAt[2]] = release ? protocol::DelimiterSet::kDashCode : '-';
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
    block[kDelimiterAt[0]] = '[';
    block[kDelimiterAt[1]] = '=';
    return block;
}

// One check of the block, after which the block is put back as it was: the
// error text's 24 bytes, or in RELEASE mode the three replaced codes.
struct CheckOnce {
    protocol::FrameCheck& check;
    Block& block;
    const Block& pristine;
    bool release;

    void operator()() const
    {
        benchmark::DoNotOptimize(block.data());
        benchmark::DoNotOptimize(check.check(block.data(), kBlockSize, kBlockSize));
        benchmark::ClobberMemory();
        if (check.dashFound() == 0) {
            std::memcpy(block.data(), pristine.data(), protocol::FrameCheck::kErrorFootprint);
        } else if (release) {
            for (const std::size_t at : kDelimiterAt) {
                block[at] = pristine[at];
            }
        }
    }
};

void MemchrOnce(const Block& block)
{
    benchmark::DoNotOptimize(block.data());
    const void* found = std::memchr(block.data(), kAbsentByte, block.size());
    benchmark::DoNotOptimize(found);
}

// Runs a thousand more checks outside the timed loop and counts what they
// allocated, away from the benchmark library's own allocations.
void countAllocations(benchmark::State& state, const CheckOnce& once)
{
    const long before = allocationCount();
    for (int i = 0; i < 1000; ++i) {
        once();
    }
    state.counters["allocations"] = static_cast<double>(allocationCount() - before);
}

void runMemchr(benchmark::State& state, const Block& block)
{
    for (auto _ : state) {
        MemchrOnce(block);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlockSize);
}

void runCheck(benchmark::State& state, const Block& pristine, bool release, bool passes)
{
    protocol::DelimiterSet set;
    set.setModeFlag(release ? 1 : 0);
    protocol::FrameCheck check(set);
    Block block = pristine;
    const CheckOnce once{check, block, pristine, release};
    for (auto _ : state) {
        once();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlockSize);
    countAllocations(state, once);
    if ((check.dashFound() == 1) != passes) {
        state.SkipWithError(passes ? "the passing block failed" : "the failing block passed");
    }
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
    runCheck(state, passingBlock(false), false, true);
}
void BM_FrameCheckPassingRelease(benchmark::State& state)
{
    runCheck(state, passingBlock(true), true, true);
}
void BM_FrameCheckFrameFirst(benchmark::State& state)
{
    runCheck(state, frameFirstBlock(), false, true);
}
void BM_FrameCheckFailing(benchmark::State& state)
{
    runCheck(state, failingBlock(), false, false);
}

// Both in one loop, in alternating batches, so that a load from elsewhere on
// the machine weighs on both alike: the ratio of their times is the
// throughput ratio of the check to memchr.
void runInterleaved(benchmark::State& state, const Block& pristine, bool release)
{
    constexpr int kBatch = 512;
    protocol::DelimiterSet set;
    set.setModeFlag(release ? 1 : 0);
    protocol::FrameCheck check(set);
    Block block = pristine;
    const CheckOnce once{check, block, pristine, release};
    std::chrono::steady_clock::duration memchrTime{}, checkTime{};
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatch; ++i) {
            MemchrOnce(pristine);
        }
        const auto t1 = std::chrono::steady_clock::now();
        for (int i = 0; i < kBatch; ++i) {
            once();
        }
        checkTime += std::chrono::steady_clock::now() - t1;
        memchrTime += t1 - t0;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch * kBlockSize *
                            2);
    countAllocations(state, once);
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
    RatioReporter reporter;
    if (!runBenchmarks(argc, argv, reporter)) {
        return 1;
    }

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
