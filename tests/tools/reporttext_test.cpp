#include "answerhistogram.h"
#include "htmlreport.h"
#include "reporttext.h"
#include "rowname.h"
#include "summarytext.h"

#include "check/csvreport.h"
#include "check/junitreport.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

struct TextRow {
    const char* name;
    std::string bytes;
    const char* readable;
    const char* markup;
    const char* csv;
};

const TextRow kRows[] = {
    {"plain", "Welcome", "Welcome", "Welcome", "Welcome"},
    {"terminal_escape", "\x1b[2J\r\n", "\\x1b[2J\\x0d\\x0a", "\\x1b[2J\\x0d\\x0a",
     "\\x1b[2J\\x0d\\x0a"},
    {"nul_and_delete", std::string("a\0b\x7f", 4), "a\\x00b\\x7f", "a\\x00b\\x7f", "a\\x00b\\x7f"},
    {"markup", "<b a='1'>&</b>", "<b a='1'>&</b>", "&lt;b a=&#39;1&#39;&gt;&amp;&lt;/b&gt;",
     "<b a='1'>&</b>"},
    {"cdata_end", "]]>", "]]>", "]]&gt;", "]]>"},
    {"utf8_kept", "T\xC3\xBCr", "T\xC3\xBCr", "T\xC3\xBCr", "T\xC3\xBCr"},
    {"broken_utf8", "\xC3(\xFF", "\\xc3(\\xff", "\\xc3(\\xff", "\\xc3(\\xff"},
    {"c1_control",
     "\xC2\x9B"
     "31m",
     "\\xc2\\x9b31m", "\\xc2\\x9b31m", "\\xc2\\x9b31m"},
    {"overlong_slash", "\xC0\xAF", "\\xc0\\xaf", "\\xc0\\xaf", "\\xc0\\xaf"},
    {"formula", "=HYPERLINK(\"x\")", "=HYPERLINK(\"x\")", "=HYPERLINK(&quot;x&quot;)",
     "\"'=HYPERLINK(\"\"x\"\")\""},
    {"plus_minus_at", "+1", "+1", "+1", "'+1"},
    {"at_sign", "@SUM(A1)", "@SUM(A1)", "@SUM(A1)", "'@SUM(A1)"},
    {"comma", "a,b", "a,b", "a,b", "\"a,b\""},
    {"blank_at_end", "a ", "a ", "a ", "\"a \""},
    // Not allowed in XML 1.0: a JUnit report holding them would not parse.
    {"junit_not_xml_fffe_ffff", "a\xEF\xBF\xBE\xEF\xBF\xBF", "a\\xef\\xbf\\xbe\\xef\\xbf\\xbf",
     "a\\xef\\xbf\\xbe\\xef\\xbf\\xbf", "a\\xef\\xbf\\xbe\\xef\\xbf\\xbf"},
    // A right-to-left override or isolate would show one name as another.
    {"bidi_override_disguises_a_name",
     "door\xE2\x80\xAE"
     "1-rood\xE2\x81\xA6",
     "door\\xe2\\x80\\xae1-rood\\xe2\\x81\\xa6", "door\\xe2\\x80\\xae1-rood\\xe2\\x81\\xa6",
     "door\\xe2\\x80\\xae1-rood\\xe2\\x81\\xa6"},
};

class ReportText : public testing::TestWithParam<TextRow>
{
};

TEST_P(ReportText, DeviceBytesAreSafeWhereverTheyGo)
{
    const TextRow& row = GetParam();
    EXPECT_EQ(devicetools::readableText(row.bytes), row.readable);
    EXPECT_EQ(devicetools::markupText(row.bytes), row.markup);
    EXPECT_EQ(devicetools::csvField(row.bytes), row.csv);
}

INSTANTIATE_TEST_SUITE_P(Rows, ReportText, testing::ValuesIn(kRows), rowName<TextRow>);

TEST(AnswerHistogram, RoundBinsHoldEveryTime)
{
    const devicetools::AnswerHistogram histogram({0, 3, 9, 10, 57, 230});
    ASSERT_FALSE(histogram.bins().empty());
    EXPECT_LE(histogram.bins().size(), devicetools::AnswerHistogram::kMaxBins);
    const long long width = histogram.bins().front().to;
    EXPECT_EQ(width, 10);
    std::size_t total = 0;
    for (const auto& bin : histogram.bins()) {
        total += bin.count;
    }
    EXPECT_EQ(total, 6u);
    EXPECT_EQ(histogram.bins().front().count, 3u);
    EXPECT_EQ(histogram.bins().back().count, 1u);
    EXPECT_EQ(histogram.percentile(0.5), 10);
    EXPECT_EQ(histogram.svg().rfind("<svg", 0), 0u);
}

} // namespace

// The site manager's page said "95% within 0 ms", listed "4, 0" without the
// steps, drew one solid block for answers all in one bin, had no title and
// left "Connection refused" unexplained.
TEST(HtmlReport, SpeaksToASiteManager)
{
    check::FleetReport report;
    report.checkFile = "site.toml";
    check::Step expect;
    expect.name = "reader answers";
    expect.action = check::ExpectStep{};
    report.file.steps = {expect};
    check::DeviceResult passed;
    passed.target.host = "127.0.0.1";
    passed.target.port = 21210;
    passed.outcome = check::DeviceOutcome::Passed;
    check::StepResult step;
    step.stepName = "reader answers";
    step.answerTime = check::Millis{0};
    passed.steps = {step};
    check::DeviceResult refused = passed;
    refused.target.port = 21211;
    refused.outcome = check::DeviceOutcome::Failed;
    refused.steps.clear();
    refused.failedStep = "connect";
    refused.reason = "Connection refused";
    report.devices = {passed, refused};

    const std::string html = devicetools::HtmlReport::text(report, "Hall A <Kim>");
    EXPECT_NE(html.find("<h1>Hall A &lt;Kim&gt;</h1>"), std::string::npos);
    EXPECT_NE(html.find("(UTC"), std::string::npos);
    EXPECT_NE(html.find("median under 1 ms, 95% within 1 ms"), std::string::npos);
    EXPECT_NE(html.find("reader answers: under 1 ms"), std::string::npos);
    EXPECT_NE(html.find("Nothing listens on that port"), std::string::npos);
    EXPECT_EQ(html.find("within 0 ms"), std::string::npos);
    EXPECT_GE(devicetools::AnswerHistogram({0, 0, 0}).bins().size(), 10u);
}

// A device that called in but is not one of those expected: a row of every
// report, marked unknown, neither passed nor failed, and no failure of the run.
TEST(UnknownDevice, IsListedInEveryReportNotFailed)
{
    check::FleetReport report;
    report.checkFile = "site.toml";
    check::DeviceResult passed;
    passed.target.host = "127.0.0.1";
    passed.target.port = 4000;
    passed.outcome = check::DeviceOutcome::Passed;
    check::DeviceResult unknown;
    unknown.target.host = "127.0.0.1";
    unknown.target.port = 4001;
    unknown.target.name = "id 55";
    unknown.outcome = check::DeviceOutcome::Unknown;
    unknown.failedStep = "unknown";
    unknown.reason = "device id 55 is not in the targets file";
    report.devices = {passed, unknown};

    EXPECT_TRUE(report.allPassed());
    EXPECT_EQ(report.counts().unknown, 1u);
    EXPECT_NE(check::CsvReport::text(report).find(
                  "127.0.0.1:4001,id 55,unknown,,unknown,,,,,device id 55 is not in the targets "
                  "file,\r\n"),
              std::string::npos);
    const std::string junit = check::JunitReport::text(report);
    EXPECT_NE(junit.find("failures=\"0\" errors=\"0\" skipped=\"1\""), std::string::npos);
    EXPECT_NE(junit.find("<skipped message=\"unknown device: device id 55 is not in the targets "
                         "file\"/>"),
              std::string::npos);
    const std::string html = devicetools::HtmlReport::text(report, {});
    EXPECT_NE(html.find("<span class=\"result unknown\">unknown</span>"), std::string::npos);
    EXPECT_NE(html.find("1<span>unknown</span>"), std::string::npos);
    const std::string summary = devicetools::SummaryText::text(report);
    EXPECT_NE(summary.find("UNKNOWN id 55 (127.0.0.1:4001): unknown device: device id 55 is not "
                           "in the targets file\n"),
              std::string::npos);
    EXPECT_NE(summary.find(": 1 passed, 0 failed, 1 unknown\n"), std::string::npos);
}
