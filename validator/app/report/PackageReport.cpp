#include "app/report/PackageReport.h"

namespace Validator {

std::string_view severityName(LogLevel level)
{
    switch (level) {
    case LogLevel::Warning:
        return "warning";
    case LogLevel::Error:
        return "error";
    case LogLevel::Critical:
        return "critical";
    case LogLevel::Info:
        break;
    }
    return "info";
}

std::string_view outcomeName(PackageOutcome outcome)
{
    switch (outcome) {
    case PackageOutcome::Passed:
        return "passed";
    case PackageOutcome::Failed:
        return "failed";
    case PackageOutcome::NotValidated:
        break;
    }
    return "not-validated";
}

} // namespace Validator
