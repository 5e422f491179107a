#include "htmlreport.h"

#include "answerhistogram.h"
#include "reporttext.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace devicetools
{

namespace
{

constexpr std::string_view kStyle = R"(
body { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif; margin: 24px 32px;
       color: #1d2530; background: #f6f7f9; }
h1 { font-size: 26px; margin: 0 0 4px; }
h2 { font-size: 18px; margin: 28px 0 8px; }
.sub, .note { color: #5a6472; margin: 0 0 8px; }
.cards { display: flex; gap: 12px; margin: 16px 0; }
.card { background: #fff; border: 1px solid #d8dde3; border-radius: 6px; padding: 10px 18px;
        min-width: 110px; font-size: 28px; font-weight: bold; }
.card span { display: block; font-size: 13px; font-weight: normal; color: #5a6472; }
.card.passed { border-left: 6px solid #2e8540; }
.card.failed { border-left: 6px solid #c62828; }
.card.stopped, .card.notrun { border-left: 6px solid #b0760a; }
.card.all { border-left: 6px solid #3b6fb6; }
svg { background: #fff; border: 1px solid #d8dde3; border-radius: 6px; }
svg .bar { fill: #3b6fb6; }
svg .grid { stroke: #e3e7ec; stroke-width: 1; }
svg .tick { font-size: 11px; fill: #5a6472; }
svg .axis { font-size: 12px; fill: #1d2530; }
table { border-collapse: collapse; background: #fff; font-size: 13px; width: 100%; }
th, td { border: 1px solid #d8dde3; padding: 4px 8px; text-align: left; vertical-align: top; }
th { background: #eceff3; }
td.num { text-align: right; white-space: nowrap; }
td code { word-break: break-all; }
.result { font-weight: bold; padding: 1px 8px; border-radius: 10px; white-space: nowrap; }
.result.passed { background: #dff1e3; color: #1f5e2c; }
.result.failed { background: #fbe0e0; color: #8e1c1c; }
.result.stopped, .result.notrun { background: #fcefd2; color: #6e4a05; }
.result.unknown { background: #e4e8ee; color: #3a4350; }
.hint { color: #5a6472; font-style: italic; }
)";

std::string resultClass(check::DeviceOutcome outcome)
{
    return outcome == check::DeviceOutcome::NotRun
               ? "notrun"
               : std::string(check::FleetReport::outcomeName(outcome));
}

// Local time with its zone, and the offset from UTC, as a site manager reads it.
std::string localText(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z (UTC%z)", &local);
    return text;
}

// Answer times are whole milliseconds: 0 is an answer under one.
std::string millisText(long long ms)
{
    return ms <= 0 ? std::string("under 1 ms") : std::to_string(ms) + " ms";
}

std::string secondsText(check::Millis time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(time.count()) / 1000.0);
    return text;
}

std::string card(std::string_view kind, std::size_t count, std::string_view label)
{
    return "<div class=\"card " + std::string(kind) + "\">" + std::to_string(count) + "<span>" +
           std::string(label) + "</span></div>";
}

// Devices that did not pass first, each group in the order given.
int rank(check::DeviceOutcome outcome)
{
    switch (outcome) {
    case check::DeviceOutcome::Failed:
        return 0;
    case check::DeviceOutcome::Stopped:
        return 1;
    case check::DeviceOutcome::NotRun:
        return 2;
    case check::DeviceOutcome::Unknown:
        return 4;
    case check::DeviceOutcome::Passed:
        break;
    }
    return 3;
}

std::string deviceRow(const check::FleetReport& report, const check::DeviceResult& device,
                      bool names)
{
    const bool contacted = device.outcome != check::DeviceOutcome::NotRun &&
                           device.outcome != check::DeviceOutcome::Unknown &&
                           device.failedStep != "connect";
    std::string why = markupText(device.reason);
    if (!device.got.empty()) {
        const bool cut = device.got.size() > HtmlReport::kGotLimit;
        why += "<br>got <code>" + markupText(device.got.substr(0, HtmlReport::kGotLimit)) +
               (cut ? "&hellip;" : "") + "</code>";
    }
    if (const std::string hint = HtmlReport::hint(device.reason); !hint.empty()) {
        why += "<br><span class=\"hint\">" + markupText(hint) + "</span>";
    }
    // Each answer time with the step it answered.
    std::string timesText;
    std::size_t answers = 0;
    for (const check::StepResult& step : device.steps) {
        if (step.outcome != check::StepOutcome::Passed || !report.isExpect(step)) {
            continue;
        }
        if (answers++ < HtmlReport::kTimesShown) {
            timesText += (answers > 1 ? "<br>" : "") + markupText(step.stepName) + ": " +
                         millisText(step.answerTime.count());
        }
    }
    if (answers > HtmlReport::kTimesShown) {
        timesText += "<br>&hellip; (" + std::to_string(answers) + " in all)";
    }
    const std::string step = device.outcome == check::DeviceOutcome::Passed
                                 ? std::string()
                                 : markupText(device.failedStep);
    return "<tr><td>" + markupText(device.target.label()) + "</td>" +
           (names ? "<td>" + markupText(device.target.name) + "</td>" : std::string()) +
           "<td><span class=\"result " + resultClass(device.outcome) + "\">" +
           std::string(check::FleetReport::outcomeName(device.outcome)) + "</span></td><td>" +
           step + "</td><td>" + why + "</td><td class=\"num\">" +
           (contacted ? std::to_string(device.connectTime.count()) + " ms" : std::string()) +
           "</td><td class=\"num\">" + timesText + "</td></tr>\n";
}

} // namespace

std::string HtmlReport::hint(const std::string& reason)
{
    if (reason.find("Connection refused") != std::string::npos) {
        return "Nothing listens on that port: the device is off, not yet set up, or uses "
               "another port.";
    }
    if (reason.find("timed out") != std::string::npos ||
        reason.find("no answer within") != std::string::npos) {
        return "The device or the network does not answer: check that the device is on "
               "and reachable.";
    }
    if (reason.find("No route to host") != std::string::npos ||
        reason.find("Network is unreachable") != std::string::npos) {
        return "The network has no way to the device: check its address and the network.";
    }
    return {};
}

std::string HtmlReport::text(const check::FleetReport& report, const std::string& title)
{
    const check::FleetReport::Counts counts = report.counts();
    std::vector<long long> times;
    for (const check::DeviceResult& device : report.devices) {
        const std::vector<long long> own = report.answerTimes(device);
        times.insert(times.end(), own.begin(), own.end());
    }
    const AnswerHistogram histogram(times);
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<title>" +
                      markupText(title.empty() ? "Device check: " + report.checkFile : title) +
                      "</title>\n<style>" + std::string(kStyle) +
                      "</style>\n</head>\n<body>\n<h1>" +
                      markupText(title.empty() ? std::string("Device check") : title) + "</h1>\n";
    out += "<p class=\"sub\">Check file <code>" + markupText(report.checkFile) +
           "</code>, started " + localText(report.startedAt) + ", took " +
           secondsText(report.elapsed) +
           (report.stopped ? ". The run was stopped before it ended." : ".") + "</p>\n";
    out += "<div class=\"cards\">" + card("all", counts.total, "devices") +
           card("passed", counts.passed, "passed") + card("failed", counts.failed, "failed");
    if (counts.stopped > 0) {
        out += card("stopped", counts.stopped, "stopped");
    }
    if (counts.notRun > 0) {
        out += card("notrun", counts.notRun, "not run");
    }
    if (counts.unknown > 0) {
        out += card("unknown", counts.unknown, "unknown");
    }
    out += "</div>\n<h2>Answer times</h2>\n";
    if (histogram.samples() > 0) {
        out += "<p class=\"sub\">" + std::to_string(histogram.samples()) + " answers: median " +
               millisText(histogram.percentile(0.5)) + ", 95% within " +
               (histogram.percentile(0.95) <= 0 ? std::string("1 ms")
                                                : millisText(histogram.percentile(0.95))) +
               ", slowest " + millisText(histogram.percentile(1.0)) + ".</p>\n";
    }
    out += histogram.svg() + "\n<h2>Devices</h2>\n";
    out += "<p class=\"sub\">Devices that did not pass come first.</p>\n";
    // The name column only when a targets file gave names.
    const bool names =
        std::any_of(report.devices.begin(), report.devices.end(),
                    [](const check::DeviceResult& device) { return !device.target.name.empty(); });
    out += std::string("<table>\n<thead><tr><th>Device</th>") + (names ? "<th>Name</th>" : "") +
           "<th>Result</th><th>Failing "
           "step</th><th>Why, and what came instead</th><th>Connect</th><th>Answer times "
           "by step</th></tr></thead>\n<tbody>\n";
    std::vector<const check::DeviceResult*> order;
    for (const check::DeviceResult& device : report.devices) {
        order.push_back(&device);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const check::DeviceResult* a, const check::DeviceResult* b) {
                         return rank(a->outcome) < rank(b->outcome);
                     });
    for (const check::DeviceResult* device : order) {
        out += deviceRow(report, *device, names);
    }
    return out + "</tbody>\n</table>\n</body>\n</html>\n";
}

} // namespace devicetools
