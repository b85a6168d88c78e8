#pragma once

#include "app/report/PackageReport.h"
#include "core/Logger.h"

#include <functional>
#include <string>
#include <vector>

namespace Validator {

enum class ColorMode : int { Always = 0, Never = 1, Auto = 2 };

struct RunOptions {
    std::string profileName;  // empty: choose from the package's certificate
    // Take the certificate's profile only once its block verifies against caBundle.
    bool verifySigner = false;
    std::string caBundle;
    bool criticalOnly = false;
    ColorMode colorMode = ColorMode::Auto;
    // Accepted findings and rule names on the finding lines.
    RecordingOptions recording;
};

// Validates one package from header to clean-up, in a child process of its
// own, so that not even a crash of its checks stops the run: the extraction
// root is removed and the remaining packages are validated all the same.
// Returns true when the package failed: a step reported failure, the package
// could not be validated at all (not a regular file, unreadable header, no
// temporary directory, failed extraction), or its validation crashed.
// With `report`, also fills it with the package's findings, profile and
// outcome for the machine-readable report.
bool validatePackage(const std::string& package, const RunOptions& options, PackageReport* report = nullptr);

// Validates the packages, up to `jobs` of them at once, each as
// validatePackage does. Each package's output is kept apart until it and
// every package before it have ended, then printed whole, in argument order.
// With `report`, it is given each package's report in the same order, as
// its output is printed. Returns true when any package failed.
bool validatePackages(const std::vector<std::string>& packages, const RunOptions& options, int jobs,
                      const std::function<void(const PackageReport&)>& report = {});

} // namespace Validator
