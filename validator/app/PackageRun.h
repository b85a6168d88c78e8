#pragma once

#include <string>

namespace Validator {

enum class ColorMode : int { Always = 0, Never = 1, Auto = 2 };

struct RunOptions {
    std::string profileName;  // empty: choose from the package's certificate
    bool criticalOnly = false;
    ColorMode colorMode = ColorMode::Auto;
};

// Validates one package from header to clean-up. Returns true when the
// package failed: a step reported failure, or the package could not be
// validated at all (unreadable header, no temporary directory, failed
// extraction).
bool validatePackage(const std::string& package, const RunOptions& options);

} // namespace Validator
