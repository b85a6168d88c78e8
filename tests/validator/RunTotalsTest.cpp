// The totals of a run, and the two closing lines made of them.

#include "app/report/RunTotals.h"

#include <gtest/gtest.h>

#include <vector>

namespace Validator {
namespace {

PackageReport package(PackageOutcome outcome, std::vector<std::pair<LogLevel, AcceptedBy>> findings)
{
    PackageReport report;
    report.outcome = outcome;
    for (const auto& [level, acceptedBy] : findings) {
        Finding finding;
        finding.level = level;
        finding.acceptedBy = acceptedBy;
        report.findings.push_back(finding);
    }
    return report;
}

TEST(RunTotalsTest, LinesCountPackagesAndTheFindingsTheTextShowedAndAcceptedApart)
{
    using enum LogLevel;
    constexpr AcceptedBy shown = AcceptedBy::None;
    struct Case {
        std::vector<PackageReport> packages;
        std::string summary;
        std::string accepted;
    };
    const Case cases[] = {
        {{package(PackageOutcome::Passed, {})}, "1 package: 1 passed, 0 failed; 0 critical, 0 errors, 0 warnings", ""},
        {{package(PackageOutcome::Failed, {{Error, shown}, {Error, shown}, {Warning, shown}, {Warning, shown},
                                           {Error, AcceptedBy::Ignore}}),
          package(PackageOutcome::Passed, {{Warning, AcceptedBy::Baseline}}),
          package(PackageOutcome::Passed, {{Critical, shown}})},
         "3 packages: 2 passed, 1 failed; 1 critical, 2 errors, 2 warnings",
         "2 findings accepted: 1 by --ignore, 1 by --baseline"},
        {{package(PackageOutcome::NotValidated, {}), package(PackageOutcome::Passed, {{Info, shown}, {Error, shown},
                                                                                      {Warning, shown}})},
         "2 packages: 1 passed, 0 failed, 1 not validated; 0 critical, 1 error, 1 warning, 1 info", ""},
        {{package(PackageOutcome::Passed, {{Warning, AcceptedBy::Baseline}, {Error, AcceptedBy::Baseline}})},
         "1 package: 1 passed, 0 failed; 0 critical, 0 errors, 0 warnings", "2 findings accepted by --baseline"},
        {{package(PackageOutcome::Passed, {{Warning, AcceptedBy::Ignore}})},
         "1 package: 1 passed, 0 failed; 0 critical, 0 errors, 0 warnings", "1 finding accepted by --ignore"},
    };
    for (const Case& c : cases) {
        RunTotals totals;
        for (const PackageReport& report : c.packages)
            totals.add(report);
        EXPECT_EQ(summaryLine(totals), c.summary);
        EXPECT_EQ(acceptedLine(totals), c.accepted);
    }
}

} // namespace
} // namespace Validator
