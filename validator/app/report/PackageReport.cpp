#include "app/report/PackageReport.h"

namespace Validator {

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

std::string_view acceptedByName(AcceptedBy acceptedBy)
{
    switch (acceptedBy) {
    case AcceptedBy::Ignore:
        return "ignore";
    case AcceptedBy::Baseline:
        return "baseline";
    case AcceptedBy::None:
        break;
    }
    return "none";
}

} // namespace Validator
