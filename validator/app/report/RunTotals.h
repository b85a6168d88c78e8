#pragma once

#include "app/report/PackageReport.h"

#include <cstddef>
#include <string>

namespace Validator {

// What a whole run came to: its packages by outcome, the findings the text
// showed by severity, and the findings it accepted by option.
struct RunTotals {
    std::size_t passed = 0;
    std::size_t failed = 0;
    std::size_t notValidated = 0;
    std::size_t critical = 0;
    std::size_t errors = 0;
    std::size_t warnings = 0;
    std::size_t infos = 0;
    std::size_t acceptedByIgnore = 0;
    std::size_t acceptedByBaseline = 0;
    double seconds = 0;

    void add(const PackageReport& report);
    std::size_t packages() const { return passed + failed + notValidated; }
    std::size_t shown() const { return critical + errors + warnings + infos; }
    std::size_t accepted() const { return acceptedByIgnore + acceptedByBaseline; }
};

// "3 packages: 2 passed, 1 failed; 0 critical, 4 errors, 2 warnings", with
// the packages not validated and the informational findings after the
// others when there are any.
std::string summaryLine(const RunTotals& totals);

// "2 findings accepted: 1 by --ignore, 1 by --baseline", naming only the
// options that accepted any; empty when none were.
std::string acceptedLine(const RunTotals& totals);

} // namespace Validator
