#include "summarytext.h"

#include "reporttext.h"

#include <cstdio>

namespace devicetools
{

std::string SummaryText::deviceLine(const check::DeviceResult& device)
{
    std::string line = device.outcome == check::DeviceOutcome::Stopped   ? "STOPPED "
                       : device.outcome == check::DeviceOutcome::Unknown ? "UNKNOWN "
                                                                         : "FAIL ";
    line += readableText(check::FleetReport::deviceText(device.target));
    line += ": " + readableText(check::FleetReport::failureText(device));
    if (!device.got.empty()) {
        const bool cut = device.got.size() > kGotLimit;
        line += "; got " + readableText(device.got.substr(0, kGotLimit)) + (cut ? "..." : "");
    }
    return line;
}

std::string SummaryText::summaryLine(const check::FleetReport& report)
{
    const check::FleetReport::Counts counts = report.counts();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s",
                  static_cast<double>(report.elapsed.count()) / 1000.0);
    std::string line = std::to_string(counts.total) +
                       (counts.total == 1 ? " device in " : " devices in ") + seconds + ": " +
                       std::to_string(counts.passed) + " passed, " + std::to_string(counts.failed) +
                       " failed";
    if (counts.stopped > 0) {
        line += ", " + std::to_string(counts.stopped) + " stopped";
    }
    if (counts.notRun > 0) {
        line += ", " + std::to_string(counts.notRun) + " not run";
    }
    if (counts.unknown > 0) {
        line += ", " + std::to_string(counts.unknown) + " unknown";
    }
    if (report.stopped) {
        line += " (stopped by a signal)";
    }
    return line;
}

std::string SummaryText::recordsCutLine(std::size_t devices, std::size_t maxBytes)
{
    return "records of " + std::to_string(devices) + (devices == 1 ? " device" : " devices") +
           " cut at " + std::to_string(maxBytes / 1024) +
           " KiB each: the rest of their traffic is only counted in their files";
}

std::string SummaryText::text(const check::FleetReport& report)
{
    std::string out;
    for (const check::DeviceResult& device : report.devices) {
        if (device.outcome == check::DeviceOutcome::Failed ||
            device.outcome == check::DeviceOutcome::Stopped ||
            device.outcome == check::DeviceOutcome::Unknown) {
            out += deviceLine(device) + '\n';
        }
    }
    return out + summaryLine(report) + '\n';
}

} // namespace devicetools
