#pragma once

#include "core/FindingSink.h"

#include <span>
#include <string>
#include <string_view>
#include <set>
#include <unordered_set>

namespace Validator {

// The findings a run accepts as known: every finding of a rule named by
// --ignore, and each finding of an earlier report named by --baseline, by
// its package name, rule and arguments. Names and arguments are compared as
// raw bytes, as the package holds them.
//
// It never sees a critical finding: the message store does not ask about
// those, so that no option or file can switch off a store's gate.
class FindingAcceptance {
public:
    void ignore(std::string rule);
    void acceptFromBaseline(std::string_view package, std::string_view rule, std::span<const std::string> arguments);

    // --ignore takes precedence, so that the closing note names the option
    // that would still accept the finding without the other.
    AcceptedBy acceptedBy(std::string_view package, std::string_view rule,
                          std::span<const std::string_view> arguments) const;

    bool empty() const { return m_ignored.empty() && m_baseline.empty(); }
    std::size_t baselineSize() const { return m_baseline.size(); }

private:
    std::set<std::string, std::less<>> m_ignored;
    // Each entry is its fields, each after its length, so that no two
    // different findings share one.
    std::unordered_set<std::string> m_baseline;
};

} // namespace Validator
