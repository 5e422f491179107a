#include "junitreport.h"

#include "reporttext.h"

#include <cstdio>
#include <ctime>

namespace check
{

namespace
{

std::string seconds(Millis time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(time.count()) / 1000.0);
    return text;
}

// "2026-12-07T15:02:03", UTC, as the JUnit schema's timestamp wants it.
std::string timestamp(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return text;
}

// The element's text: one escaped line each for the device, the step, the
// reason and what came instead.
std::string stepLines(const DeviceResult& device)
{
    std::string text = "device: " + markupText(device.target.label()) +
                       "\nstep: " + markupText(device.failedStep) +
                       "\nreason: " + markupText(device.reason);
    if (!device.got.empty()) {
        text += "\ngot: " + markupText(device.got.substr(0, JunitReport::kGotLimit));
    }
    return text;
}

} // namespace

std::string JunitReport::text(const FleetReport& report)
{
    const FleetReport::Counts counts = report.counts();
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<testsuite name=\"devicecheck " + markupText(report.checkFile) + "\" tests=\"" +
           std::to_string(counts.total) + "\" failures=\"" + std::to_string(counts.failed) +
           "\" errors=\"" + std::to_string(counts.stopped) + "\" skipped=\"" +
           std::to_string(counts.notRun + counts.unknown) + "\" time=\"" + seconds(report.elapsed) +
           "\" timestamp=\"" + timestamp(report.startedAt) + "\">\n";
    for (const DeviceResult& device : report.devices) {
        out += "  <testcase classname=\"devicecheck\" name=\"" +
               markupText(FleetReport::deviceText(device.target)) + "\" time=\"" +
               seconds(device.duration) + '"';
        const std::string message = markupText(FleetReport::failureText(device));
        switch (device.outcome) {
        case DeviceOutcome::Passed:
            out += "/>\n";
            continue;
        case DeviceOutcome::Failed:
            out += ">\n    <failure type=\"" + markupText(device.failedStep) + "\" message=\"" +
                   message + "\">" + stepLines(device) + "</failure>\n";
            break;
        case DeviceOutcome::Stopped:
            out += ">\n    <error type=\"stopped\" message=\"" + message + "\">" +
                   stepLines(device) + "</error>\n";
            break;
        case DeviceOutcome::NotRun:
        case DeviceOutcome::Unknown:
            out += ">\n    <skipped message=\"" + message + "\"/>\n";
            break;
        }
        out += "  </testcase>\n";
    }
    return out + "</testsuite>\n";
}

} // namespace check
