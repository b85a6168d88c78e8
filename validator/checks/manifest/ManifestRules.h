#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Validator {

class Logger;

namespace ManifestRules {

// Decimal parts joined by dots. Compared part by part from the left; when
// one is a prefix of the other, the shorter is the smaller (4.0 < 4.0.0),
// which is exactly the ordering of std::vector.
using Version = std::vector<std::int32_t>;

// nullopt unless every part is a non-empty run of digits that fits a
// signed 32-bit integer.
std::optional<Version> parseVersion(std::string_view text);

// The running system's version as the os-release file gives it. The file
// may quote its values, so one pair of enclosing double or single quotes
// is not part of the version.
std::optional<Version> parseSystemVersion(std::string_view text);

// Whether a system of version `system` satisfies the minimum versions the
// manifest lists (one per release branch the application supports).
bool isCompatible(std::string_view system, const std::vector<std::string>& minimumVersions);

// The keys a manifest may hold, each with the JSON kind its value must
// have ("minOSVersion" has rules of its own).
struct KnownKey {
    std::string_view name;
    std::string_view kind;
};
std::vector<KnownKey> knownKeys();

// The manifest's text checked in full; `systemVersion` is asked only when
// the manifest names its minimum versions correctly.
void checkManifest(std::string_view text, const std::function<std::string()>& systemVersion, Logger& logger);

} // namespace ManifestRules
} // namespace Validator
