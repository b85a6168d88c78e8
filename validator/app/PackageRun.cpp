#include "app/PackageRun.h"

#include "app/DescriptorBudget.h"
#include "app/DriverLines.h"
#include "app/JobScheduler.h"
#include "app/OutputCapture.h"
#include "app/PackageSupervision.h"
#include "app/ReportCompletion.h"
#include "app/report/ReportChannel.h"
#include "package/Log.h"
#include "package/RpmConfiguration.h"

#include <chrono>
#include <optional>

namespace Validator {

bool validatePackage(const std::string& package, const RunOptions& options, PackageReport* report)
{
    const auto start = std::chrono::steady_clock::now();
    std::optional<ReportChannel> channel;
    bool failed = true;
    if (report && !openChannel(channel, package, *report))
        printProgress(package);
    else
        failed = supervisePackage(package, options, channel ? &*channel : nullptr);
    if (report)
        completeReport(*report, package, channel ? &*channel : nullptr, failed, std::chrono::steady_clock::now() - start);
    return failed;
}

bool validatePackages(const std::vector<std::string>& packages, const RunOptions& options, int jobs,
                      const std::function<void(const PackageReport&)>& report)
{
    // Read here once rather than by every package's child, which inherits
    // it; a child reads it again, and warns, when this failed.
    Common::Rpm::loadConfigurationQuietly();
    const bool oneAtATime = jobs <= 1 || packages.size() <= 1;
    const bool shared = outputsShareDestination();
    // Per package in flight: its report channel, and with several at once
    // the captures of its output and its lifeline.
    const DescriptorBudget budget((report ? 1 : 0) + (oneAtATime ? 0 : shared ? 2 : 3));
    if (budget.tooLowForOne()) {
        printError("The limit on open files (" + std::to_string(budget.limit()) + ") is below the "
                   + std::to_string(budget.neededForOne()) + " that validating a package may need: packages may fail");
    }
    if (!oneAtATime)
        return validateAtOnce(packages, options, jobs, budget, shared, report);
    bool failed = false;
    for (const std::string& package : packages) {
        PackageReport reported;
        failed = validatePackage(package, options, report ? &reported : nullptr) || failed;
        if (report)
            report(reported);
    }
    return failed;
}

} // namespace Validator
