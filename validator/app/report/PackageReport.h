#pragma once

#include "core/FindingSink.h"
#include "core/Message.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace Validator {

// One finding as the reports give it. Arguments and path are the raw bytes
// the check saw; the formats escape them as the text output does.
struct Finding {
    LogLevel level = LogLevel::Info;
    std::string group;
    std::size_t code = 0;
    std::string rule;
    std::string text;
    std::vector<std::string> arguments;
    std::optional<std::string> path;
    AcceptedBy acceptedBy = AcceptedBy::None;

    bool accepted() const { return acceptedBy != AcceptedBy::None; }
};

// The identity of a package as its header gives it.
struct PackageHeader {
    std::string name;
    std::string version;
    std::string release;
    std::string arch;
};

enum class PackageOutcome { Passed, Failed, NotValidated };

// What the reports say of one package: its findings in the order the text
// printed them (the accepted ones among them, where they would have been
// printed), the profile it was judged by (empty when none was chosen), its
// header (none when it was not read) and how its run ended.
struct PackageReport {
    std::string package;  // as printed in the text: control characters escaped
    PackageOutcome outcome = PackageOutcome::Passed;
    std::string reason;   // why it could not be validated
    std::string profile;
    // How the profile was chosen: "option", "verified-certificate",
    // "unverified-certificate" or "default"; empty when none was.
    std::string profileSource;
    std::optional<PackageHeader> header;
    std::vector<Finding> findings;
    double seconds = 0;  // wall time of its run
};

std::string_view outcomeName(PackageOutcome outcome);
// "ignore" or "baseline": the option that accepted a finding.
std::string_view acceptedByName(AcceptedBy acceptedBy);

} // namespace Validator
