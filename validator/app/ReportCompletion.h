#pragma once

#include "app/report/PackageReport.h"
#include "app/report/ReportChannel.h"

#include <chrono>
#include <optional>
#include <string>

namespace Validator {

// The report's channel for one package, made before anything is forked;
// false (with the reason in `report` and on standard error) when none can
// be made.
bool openChannel(std::optional<ReportChannel>& channel, const std::string& package, PackageReport& report);

// What the report says of a package once its run has ended: what its
// processes recorded (`channel`, null when they recorded nothing), and the
// verdict.
void completeReport(PackageReport& report, const std::string& package, const ReportChannel* channel, bool failed,
                    std::chrono::steady_clock::duration taken);

} // namespace Validator
