#include "runreportfile.h"

#include "check/csvreport.h"
#include "check/junitreport.h"
#include "check/reportfile.h"

#include <filesystem>

namespace app
{

namespace
{

const QString kJunitFilter = QStringLiteral("JUnit XML (*.xml)");
const QString kCsvFilter = QStringLiteral("CSV (*.csv)");

} // namespace

QStringList RunReportFile::filters()
{
    return {kJunitFilter, kCsvFilter};
}

RunReportFile::Kind RunReportFile::kindOf(const QString& filter)
{
    return filter == kCsvFilter ? Kind::Csv : Kind::Junit;
}

std::string RunReportFile::withExtension(const std::string& path, Kind kind)
{
    if (std::filesystem::path(path).filename().has_extension())
        return path;
    return path + (kind == Kind::Csv ? ".csv" : ".xml");
}

std::string RunReportFile::text(const check::FleetReport& report, Kind kind)
{
    return kind == Kind::Csv ? check::CsvReport::text(report) : check::JunitReport::text(report);
}

std::string RunReportFile::write(const check::FleetReport& report, const std::string& path,
                                 Kind kind)
{
    const base::Error written = check::ReportFile::write(path, text(report, kind));
    return written.ok() ? std::string() : written.text();
}

} // namespace app
