#include "app/report/RunTotals.h"

namespace Validator {

namespace {

std::string counted(std::size_t count, const std::string& one, const std::string& many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

} // namespace

void RunTotals::add(const PackageReport& report)
{
    switch (report.outcome) {
    case PackageOutcome::Passed:
        ++passed;
        break;
    case PackageOutcome::Failed:
        ++failed;
        break;
    case PackageOutcome::NotValidated:
        ++notValidated;
        break;
    }
    for (const Finding& finding : report.findings) {
        if (finding.acceptedBy == AcceptedBy::Ignore) {
            ++acceptedByIgnore;
            continue;
        }
        if (finding.acceptedBy == AcceptedBy::Baseline) {
            ++acceptedByBaseline;
            continue;
        }
        switch (finding.level) {
        case LogLevel::Critical:
            ++critical;
            break;
        case LogLevel::Error:
            ++errors;
            break;
        case LogLevel::Warning:
            ++warnings;
            break;
        case LogLevel::Info:
            ++infos;
            break;
        }
    }
    seconds += report.seconds;
}

std::string summaryLine(const RunTotals& totals)
{
    std::string line = counted(totals.packages(), "package", "packages") + ": " + std::to_string(totals.passed)
        + " passed, " + std::to_string(totals.failed) + " failed";
    if (totals.notValidated > 0)
        line += ", " + std::to_string(totals.notValidated) + " not validated";
    line += "; " + std::to_string(totals.critical) + " critical, " + counted(totals.errors, "error", "errors") + ", "
        + counted(totals.warnings, "warning", "warnings");
    if (totals.infos > 0)
        line += ", " + std::to_string(totals.infos) + " info";
    return line;
}

std::string acceptedLine(const RunTotals& totals)
{
    if (totals.accepted() == 0)
        return {};
    std::string line = counted(totals.accepted(), "finding", "findings") + " accepted";
    if (totals.acceptedByIgnore > 0 && totals.acceptedByBaseline > 0)
        return line + ": " + std::to_string(totals.acceptedByIgnore) + " by --ignore, "
            + std::to_string(totals.acceptedByBaseline) + " by --baseline";
    return line + (totals.acceptedByIgnore > 0 ? " by --ignore" : " by --baseline");
}

} // namespace Validator
