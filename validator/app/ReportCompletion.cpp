#include "app/ReportCompletion.h"

#include "common/VisibleText.h"
#include "package/Log.h"

#include <system_error>

namespace Validator {

bool openChannel(std::optional<ReportChannel>& channel, const std::string& package, PackageReport& report)
{
    try {
        channel.emplace();
        return true;
    } catch (const std::system_error& e) {
        const std::string reason = std::string("cannot start the validation: ") + e.what();
        printError(package + ": " + reason);
        report.outcome = PackageOutcome::NotValidated;
        report.reason = reason;
        return false;
    }
}

void completeReport(PackageReport& report, const std::string& package, const ReportChannel* channel, bool failed,
                    std::chrono::steady_clock::duration taken)
{
    report.package = Common::visibleText(package);
    report.seconds = std::chrono::duration<double>(taken).count();
    if (channel)
        channel->collect(report);
    if (report.outcome != PackageOutcome::NotValidated)
        report.outcome = failed ? PackageOutcome::Failed : PackageOutcome::Passed;
}

} // namespace Validator
