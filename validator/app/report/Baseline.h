#pragma once

#include "core/FindingAcceptance.h"

#include <cstddef>
#include <string>

namespace Validator {

// Limits of a baseline, a JSON Lines report of an earlier run: real ones hold
// a few lines per finding, each well under a kilobyte.
inline constexpr std::size_t kMaxBaselineBytes = std::size_t(64) << 20;
inline constexpr std::size_t kMaxBaselineLineBytes = std::size_t(1) << 20;

// Adds every finding of the report at `path` to `acceptance`, by the name
// its package record gives the package, its rule and its arguments, all read
// back to the raw bytes the report escaped (Common::fromVisibleText).
// Critical findings are left out: they can never be accepted. Records of
// other types, and findings whose package record is missing, add nothing.
//
// The file is hostile input: only a regular file is read (a named pipe is
// refused without waiting for a writer), within the limits above, and every
// line must be a JSON object whose fields have the report's types. False,
// with `error` saying why and where, when it is not such a report; nothing
// is added then.
bool readBaseline(const std::string& path, FindingAcceptance& acceptance, std::string& error);

} // namespace Validator
