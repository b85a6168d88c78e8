#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/UniqueFd.h"

namespace PackageSignatures {

// Replaces a package file by its first `keep` bytes followed by `tail`,
// without a moment in which the path names anything else than the whole old
// or the whole new file: the new contents go to a new file in the package's
// directory (unnamed while it is written, where the file system allows),
// which gets the package's mode and, when permitted, its owner, reaches the
// disk, is locked, and is renamed over the package. Returns the new file's
// descriptor, open for reading and writing and holding the exclusive flock,
// or none after one line on standard error; the package is then unchanged.
Common::UniqueFd replacePackage(int packageFd, const std::string& realPath, int64_t keep, const std::vector<uint8_t>& tail);

// Removes what a replacement of this package left behind when its process
// was killed between naming its new file and renaming it. Only for the
// holder of the package's lock: no other replacement can then be under way.
void removeStaleReplacements(const std::string& realPath);

} // namespace PackageSignatures
