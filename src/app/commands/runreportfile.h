#pragma once

#include "base/error.h"
#include "check/fleetreport.h"

#include <QStringList>

#include <string>

namespace app
{

// A Run's report on disk, in the device checker's formats: the same JUnit XML
// or CSV that devicecheck writes for one device (check::JunitReport,
// check::CsvReport), in an owner-only file (check::ReportFile). Which one is
// chosen by the save dialog's filter; a name without an extension gets the
// type's. Pure but for write(); UI thread or any.
class RunReportFile
{
public:
    enum class Kind { Junit, Csv };

    // The save dialog's filters, JUnit XML first.
    static QStringList filters();
    // The kind a filter of filters() names (JUnit XML for any other text).
    static Kind kindOf(const QString& filter);
    // The kind the name's extension says (.csv, .xml), else the filter's.
    static Kind kindFor(const std::string& path, const QString& filter);
    // `path` with ".xml" or ".csv" added when its file name has no extension.
    static std::string withExtension(const std::string& path, Kind kind);
    static std::string text(const check::FleetReport& report, Kind kind);
    // Writes the report (mode 0600); no failure when it is on disk whole,
    // else why not ("cannot write /x/run.xml: Permission denied").
    [[nodiscard]] static base::Error write(const check::FleetReport& report,
                                           const std::string& path, Kind kind);
};

} // namespace app
