#pragma once

#include "app/report/PackageReport.h"
#include "app/report/RunTotals.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Validator {

// Renders the machine-readable report of a run, one package at a time, so
// that a run over many packages holds only the current package's findings.
class ReportFormat {
public:
    virtual ~ReportFormat() = default;
    virtual std::string begin() = 0;
    virtual std::string package(const PackageReport& report) = 0;
    virtual std::string end(const RunTotals& totals) = 0;
    // What replaces the bytes begin() gave, now that the run's totals are
    // known: as many bytes, or none when the beginning stays as it is.
    virtual std::string head(const RunTotals&) { return {}; }
};

std::unique_ptr<ReportFormat> makeJsonLinesReport();
std::unique_ptr<ReportFormat> makeJUnitReport(bool errorsFail);

// "jsonl" or "junit"; nothing for another name. `errorsFail`: error-level
// findings fail a package (full checks), as in the exit status.
std::unique_ptr<ReportFormat> makeReportFormat(std::string_view name, bool errorsFail);

} // namespace Validator
