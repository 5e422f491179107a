#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace devicetools
{

// Answer times in bins of a round width (1, 2 or 5 times a power of ten ms,
// from 0, at most kMaxBins), and the picture of them as inline SVG for the
// HTML report: a bar per bin, the counts on the left, the times below. Pure.
class AnswerHistogram
{
public:
    static constexpr std::size_t kMaxBins = 24;

    struct Bin {
        long long from = 0; // ms, the bin holds from <= time < to
        long long to = 0;
        std::size_t count = 0;
    };

    explicit AnswerHistogram(const std::vector<long long>& times);

    const std::vector<Bin>& bins() const { return bins_; }
    std::size_t samples() const { return samples_; }
    // The time below which `fraction` (0..1) of the samples lie; 0 without any.
    long long percentile(double fraction) const;

    // An <svg> element, or a short note when there are no times.
    std::string svg() const;

private:
    std::vector<Bin> bins_;
    std::vector<long long> sorted_;
    std::size_t samples_ = 0;
};

} // namespace devicetools
