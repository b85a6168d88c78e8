#pragma once

#include "core/FindingAcceptance.h"

#include <string>
#include <vector>

namespace Validator {

// vetrik --explain RULE...: each rule's explanation on standard output, in
// the order given. Status 1, with one line per unknown name on standard
// error and nothing on standard output, when a name is no rule's.
int explainRules(const std::vector<std::string>& names);

// vetrik --list-rules [-p PROFILE]: one line per rule, its name, group,
// severity and "checked" or "not-checked" under the profile (regular when
// none is named), separated by tabs. Status 1 for an unknown profile.
int listRules(const std::string& profileName);

// The findings --ignore and --baseline accept. False, after one line on
// standard error for each problem, when a name is no rule's, names a
// critical rule, or the baseline cannot be read.
bool acceptanceFromOptions(const std::vector<std::string>& ignoredRules, const std::string* baseline,
                           FindingAcceptance& acceptance);

} // namespace Validator
