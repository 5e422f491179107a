#include "answerhistogram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace devicetools
{

namespace
{

constexpr int kWidth = 760;
constexpr int kHeight = 260;
constexpr int kLeft = 56;   // room for the counts
constexpr int kBottom = 44; // room for the times
constexpr int kTop = 16;
constexpr int kRight = 12;
constexpr std::size_t kMaxLabels = 12;
constexpr long long kSteps[] = {1, 2, 5};
// Bins drawn at least, so that answers all in one bin make one bar, not a
// block across the whole picture.
constexpr std::size_t kMinBins = 10;

long long binWidth(long long largest)
{
    for (long long power = 1;; power *= 10) {
        for (const long long step : kSteps) {
            const long long width = step * power;
            if (largest / width + 1 <= static_cast<long long>(AnswerHistogram::kMaxBins)) {
                return width;
            }
        }
    }
}

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

} // namespace

AnswerHistogram::AnswerHistogram(const std::vector<long long>& times) : sorted_(times)
{
    std::sort(sorted_.begin(), sorted_.end());
    samples_ = sorted_.size();
    if (sorted_.empty()) {
        return;
    }
    const long long largest = std::max(sorted_.back(), 0LL);
    const long long width = binWidth(largest);
    const auto count = std::max(static_cast<std::size_t>(largest / width + 1), kMinBins);
    for (std::size_t i = 0; i < count; ++i) {
        const long long from = static_cast<long long>(i) * width;
        bins_.push_back({from, from + width, 0});
    }
    for (const long long time : sorted_) {
        ++bins_[static_cast<std::size_t>(std::max(time, 0LL) / width)].count;
    }
}

long long AnswerHistogram::percentile(double fraction) const
{
    if (sorted_.empty()) {
        return 0;
    }
    const double rank = std::clamp(fraction, 0.0, 1.0) * static_cast<double>(samples_ - 1);
    return sorted_[static_cast<std::size_t>(std::lround(rank))];
}

std::string AnswerHistogram::svg() const
{
    if (bins_.empty()) {
        return "<p class=\"note\">No answer times: no expected answer came.</p>";
    }
    std::size_t highest = 1;
    for (const Bin& bin : bins_) {
        highest = std::max(highest, bin.count);
    }
    const double plotWidth = kWidth - kLeft - kRight;
    const double plotHeight = kHeight - kTop - kBottom;
    const double barWidth = plotWidth / static_cast<double>(bins_.size());
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      std::to_string(kWidth) + "\" height=\"" + std::to_string(kHeight) +
                      "\" viewBox=\"0 0 " + std::to_string(kWidth) + ' ' + std::to_string(kHeight) +
                      "\" role=\"img\" aria-label=\"Histogram of answer times\">\n";
    const double baseline = kTop + plotHeight;
    // The count axis: zero, half and the highest bar.
    std::vector<std::size_t> ticks{0, highest / 2, highest};
    ticks.erase(std::unique(ticks.begin(), ticks.end()), ticks.end());
    for (const std::size_t tick : ticks) {
        const double y =
            baseline - plotHeight * static_cast<double>(tick) / static_cast<double>(highest);
        out += "<line x1=\"" + std::to_string(kLeft) + "\" x2=\"" +
               std::to_string(kWidth - kRight) + "\" y1=\"" + number(y) + "\" y2=\"" + number(y) +
               "\" class=\"grid\"/>\n";
        out += "<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + number(y + 4) +
               "\" class=\"tick\" text-anchor=\"end\">" + std::to_string(tick) + "</text>\n";
    }
    const std::size_t labelEvery = (bins_.size() + kMaxLabels - 1) / kMaxLabels;
    for (std::size_t i = 0; i < bins_.size(); ++i) {
        const Bin& bin = bins_[i];
        const double x = kLeft + barWidth * static_cast<double>(i);
        const double height =
            plotHeight * static_cast<double>(bin.count) / static_cast<double>(highest);
        out += "<rect x=\"" + number(x + 1) + "\" y=\"" + number(baseline - height) +
               "\" width=\"" + number(std::max(barWidth - 2, 1.0)) + "\" height=\"" +
               number(height) + "\" class=\"bar\"><title>" + std::to_string(bin.from) + " to " +
               std::to_string(bin.to) + " ms: " + std::to_string(bin.count) + "</title></rect>\n";
        if (i % labelEvery == 0) {
            out += "<text x=\"" + number(x) + "\" y=\"" + number(baseline + 16) +
                   "\" class=\"tick\" text-anchor=\"middle\">" + std::to_string(bin.from) +
                   "</text>\n";
        }
    }
    if (bins_.size() % labelEvery == 0) {
        out += "<text x=\"" + number(kLeft + plotWidth) + "\" y=\"" + number(baseline + 16) +
               "\" class=\"tick\" text-anchor=\"middle\">" + std::to_string(bins_.back().to) +
               "</text>\n";
    }
    out += "<text x=\"" + number(kLeft + plotWidth / 2) + "\" y=\"" + std::to_string(kHeight - 6) +
           "\" class=\"axis\" text-anchor=\"middle\">answer time (ms)</text>\n";
    return out + "</svg>";
}

} // namespace devicetools
