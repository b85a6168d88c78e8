#pragma once

#include "core/Message.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace Validator {

// Which option, if any, accepted a finding: it is then neither printed nor
// counted against the package, and the report marks it.
enum class AcceptedBy : std::uint8_t {
    None = 0,
    Ignore = 1,    // --ignore RULE
    Baseline = 2,  // --baseline REPORT
};

// One finding as data, as its store recorded it. The views are valid for
// the duration of the call that hands it over.
struct RecordedFinding {
    std::string_view group;
    std::size_t code = 0;
    std::string_view rule;
    const Message& message;
    // As the check passed them: raw bytes of the package, unescaped.
    std::span<const std::string_view> arguments;
    // The path inside the package the finding concerns, raw; none when it
    // concerns the package as a whole.
    std::optional<std::string_view> path;
    AcceptedBy acceptedBy = AcceptedBy::None;
};

// Receives every finding a message store records, after the store dropped
// repeats, so that a second record of the run (a machine-readable report)
// holds exactly what the text shows, and the accepted findings besides.
class FindingSink {
public:
    virtual ~FindingSink() = default;
    virtual void found(const RecordedFinding& finding) = 0;
    // The package could not be validated to its end, for `reason`.
    virtual void notValidated(std::string_view reason) = 0;
};

} // namespace Validator
