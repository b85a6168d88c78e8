#pragma once

#include "core/Message.h"

#include <cstddef>
#include <string>
#include <vector>

namespace Validator {

struct Finding {
    LogLevel level = LogLevel::Info;
    std::string group;
    std::size_t code = 0;
    std::string text;
};

enum class PackageOutcome { Passed, Failed, NotValidated };

// What the reports say of one package: its findings in the order the text
// printed them, the profile it was judged by (empty when none was chosen)
// and how its run ended.
struct PackageReport {
    std::string package;  // as printed in the text: control characters escaped
    PackageOutcome outcome = PackageOutcome::Passed;
    std::string reason;   // why it could not be validated
    std::string profile;
    // How the profile was chosen: "option", "verified-certificate",
    // "unverified-certificate" or "default"; empty when none was.
    std::string profileSource;
    std::vector<Finding> findings;
    double seconds = 0;  // wall time of its run
};

std::string_view severityName(LogLevel level);
std::string_view outcomeName(PackageOutcome outcome);

} // namespace Validator
