#include "viewappendcosts.h"

#include "allocationcount.h"
#include "uilatencyprobe.h"

#include "app/view/messageview.h"
#include "app/view/qtviewwindow.h"

#include <QElapsedTimer>
#include <QTextDocument>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace
{

// Times direct appends of 2048-byte blocks on the UI thread.
void timeAppends(app::MessageView& view, const std::string& stream, const char* label)
{
    constexpr std::size_t kBlock = 2048;
    std::vector<double> costs;
    for (std::size_t at = 0; at + kBlock <= stream.size(); at += kBlock) {
        QElapsedTimer one;
        one.start();
        view.appendBytes(std::string_view(stream).substr(at, kBlock));
        costs.push_back(static_cast<double>(one.nsecsElapsed()) / 1e3);
    }
    double sum = 0;
    for (const double c : costs)
        sum += c;
    std::printf("%-40s mean %7.1f us  p99 %7.1f us  max %8.1f us  (%zu appends)\n", label,
                sum / static_cast<double>(costs.size()), percentile(costs, 99),
                percentile(costs, 100), costs.size());
}

// Times MessageView::appendTexts() of 64 KiB of 2048-byte texts into a full
// view, each shown whole: how fast the view inserts this stream, in MB/s of
// the UI thread's own time, when every line is shown.
double timeBatches(app::MessageView& view, const std::string& stream, const char* label)
{
    constexpr std::size_t kText = 2048;
    constexpr std::size_t kBatch = 64 * 1024;
    const std::vector<std::uint32_t> lengths(kBatch / kText, kText);
    std::vector<double> costs;
    QElapsedTimer all;
    all.start();
    std::size_t shown = 0;
    for (std::size_t at = 0; at + kBatch <= stream.size(); at += kBatch) {
        QElapsedTimer one;
        one.start();
        view.appendTexts(std::string_view(stream).substr(at, kBatch), lengths);
        costs.push_back(static_cast<double>(one.nsecsElapsed()) / 1e6);
        shown += kBatch;
    }
    const double seconds = static_cast<double>(all.nsecsElapsed()) / 1e9;
    const double rate = static_cast<double>(shown) / seconds / 1e6;
    std::printf("%-40s %.2f MB/s  p99 %6.1f ms  max %6.1f ms  (%zu edits)\n", label, rate,
                percentile(costs, 99), percentile(costs, 100), costs.size());
    return rate;
}

} // namespace

// The watcher's side of an append: a thread places `count` blocks of 2048
// bytes while the UI thread waits for it (so nothing is drained and nothing
// else allocates), with a queue that holds them all. Prints the allocations
// per append.
void watcherAllocations(app::MessageView& view)
{
    constexpr std::size_t kBlock = 2048;
    constexpr int kCount = 4096;
    app::QtViewWindow window(&view, nullptr, kBlock * kCount, kCount);
    const std::string block(kBlock, 'x');
    long allocations = 0;
    int placed = 0;
    std::thread watcher([&] {
        const long before = allocationCount();
        for (int i = 0; i < kCount; ++i)
            placed += window.appendText(block, 1000) ? 1 : 0;
        allocations = allocationCount() - before;
    });
    watcher.join();
    std::printf("%-40s %.4f allocations per append (%ld in %d appends placed)\n",
                "watcher path:", static_cast<double>(allocations) / kCount, allocations, placed);
}

// Prints what single appends and batched edits cost the UI thread; returns
// the rate of batched edits into a full view in MB/s.
double appendCosts()
{
    std::string frames;
    for (int i = 0; frames.size() < 6 * 1024 * 1024; ++i)
        frames += "[A01data" + std::to_string(i) + "=CMD-flood message\r\n";
    std::string noBreaks(12 * 1024 * 1024, 'x');
    for (std::size_t i = 0; i < noBreaks.size(); ++i)
        noBreaks[i] = static_cast<char>('!' + i % 90);

    app::MessageView empty;
    timeAppends(empty, frames.substr(0, 2 * 1024 * 1024), "append, short lines, view filling:");
    app::MessageView full;
    for (std::size_t at = 0; at < frames.size(); at += 2048)
        full.appendBytes(std::string_view(frames).substr(at, 2048));
    std::printf("%-40s %d lines\n", "  view then holds:", full.document()->blockCount());
    timeAppends(full, frames, "append, short lines, view full:");
    const double batched = timeBatches(full, frames, "64 KiB edits of 2 KiB texts, view full:");
    app::MessageView endless;
    timeAppends(endless, noBreaks, "append, no line break (12 MB):");
    std::printf("%-40s %d chars in %d display lines\n",
                "  view then holds:", endless.document()->characterCount() - 1,
                endless.document()->blockCount());
    return batched;
}
