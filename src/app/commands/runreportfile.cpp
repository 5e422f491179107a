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

RunReportFile::Kind RunReportFile::kindFor(const std::string& path, const QString& filter)
{
    const std::string extension = std::filesystem::path(path).extension().string();
    if (extension == ".csv" || extension == ".CSV")
        return Kind::Csv;
    if (extension == ".xml" || extension == ".XML")
        return Kind::Junit;
    return kindOf(filter);
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

base::Error RunReportFile::write(const check::FleetReport& report, const std::string& path,
                                Kind kind)
{
    return check::ReportFile::write(path, text(report, kind));
}

} // namespace app
