#pragma once

// The small grammars of desktop-entry values, and the choice of the sandbox
// section. Each matcher is one linear pass without recursion or
// backtracking: intents, task names and executables are written by the
// package and may be megabytes long. Each gives exactly the result of the
// whole-string ECMAScript expression quoted above it, in which "." matches
// any byte but a line feed or a carriage return.

#include "deskinfo/ManifestEntry.h"

#include <optional>
#include <string>
#include <string_view>

namespace Validator {

// ^((?:(?!X-)[A-Z][A-Za-z0-9-]+)|(?:X-[A-Z][A-Za-z0-9-]+))(\/[A-Za-z][A-Za-z0-9-]+)?(:.*$)?
struct IntentSpec {
    std::string_view name;       // the first group
    std::string_view qualifier;  // the second group, "/" included; may be empty
    // The third group less its ":"; nullopt when the group did not match.
    std::optional<std::string_view> flags;
};
std::optional<IntentSpec> parseIntent(std::string_view text);

// ^(?:X-Task|X-Service) +([A-Za-z][A-Za-z0-9]+)$
bool isTaskGroupName(std::string_view text);

// ^([a-z][a-z0-9-]+)(?::([a-z][a-z0-9-]+))?$
struct ConditionSpec {
    std::string_view name;
    std::optional<std::string_view> subtype;
};
std::optional<ConditionSpec> parseCondition(std::string_view text);

// ^([A-Za-z][A-Za-z0-9-_]+)$ (letters, digits, "-" and "_" after the first)
bool isExecutableSuffix(std::string_view text);

// The sandbox section in use: the last present of "X-Application",
// "X-Tervane" and "Tervane", in this order; nullopt when there is none.
std::optional<std::string> sandboxSection(const AppManifest::ManifestEntry& entry);

// The text up to its first space, all of it when there is none.
std::string_view commandOf(std::string_view text);

} // namespace Validator
