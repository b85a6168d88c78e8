#pragma once

#include "app/report/PackageReport.h"

#include <functional>
#include <string>
#include <vector>

namespace Validator {

class DescriptorBudget;
struct RunOptions;

// Validates the packages up to `jobs` of them at once (--jobs), each in a
// supervising process of its own that validates it as a run of one package
// does (PackageSupervision.h). Packages start in argument order as places
// become free, and never more than `budget` allows to hold their
// descriptors at once. Each package's output is kept apart until it and
// every package before it have ended, then printed whole, in argument
// order; `report`, when given, gets each package's report at that moment.
// Its extraction root is removed once nothing can write into it any more:
// after its supervisor and everything below it have ended, even when the
// supervisor crashed. Returns true when any package failed.
bool validateAtOnce(const std::vector<std::string>& packages, const RunOptions& options, int jobs,
                    const DescriptorBudget& budget, bool outputsShared,
                    const std::function<void(const PackageReport&)>& report);

} // namespace Validator
