#include "progressline.h"

#include <cstdio>

namespace devicetools
{

namespace
{

constexpr std::string_view kEraseToEnd = "\x1b[K";

} // namespace

std::string ProgressLine::text(const FleetProgress& progress)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s",
                  static_cast<double>(progress.elapsed.count()) / 1000.0);
    return "checked " + std::to_string(progress.done) + '/' + std::to_string(progress.total) +
           "  passed " + std::to_string(progress.passed) + "  failed " +
           std::to_string(progress.failed) + "  " + seconds;
}

void ProgressLine::update(const FleetProgress& progress)
{
    if (!live_) {
        return;
    }
    out_ << '\r' << text(progress) << kEraseToEnd << std::flush;
    shown_ = true;
}

void ProgressLine::clear()
{
    if (shown_) {
        out_ << '\r' << kEraseToEnd << std::flush;
        shown_ = false;
    }
}

} // namespace devicetools
