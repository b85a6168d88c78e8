#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "torvel/FileWithCmses.h"

namespace PackageSignatures {

// One block found behind a package, with what makes it safe to act on.
struct LocatedBlock {
    CmsLocation location;
    int64_t start = 0;   // first byte of the block: its frame header for version 3
    bool framed = true;  // false for a version-3 block without its frame header
    bool parses = false; // the DER is a CMS

    // Only such a block may be removed or signed over.
    bool wellFormed() const { return framed && parses; }
};

struct PackageBlocks {
    int64_t fileSize = 0;
    // No block reaches below it: the RPM's own length, 0 for other files.
    // Empty for a file that starts like an RPM but does not say how long it
    // is: nothing behind it can be told apart from the package.
    std::optional<int64_t> floor;
    // In file order; the last 256 at most, more than any signer writes.
    std::vector<LocatedBlock> blocks;
};

// The one routine that finds blocks, for every reader and writer of them.
// Reads with positioned reads only, so a file shortened meanwhile by
// another process gives fewer blocks rather than a fault.
PackageBlocks locatePackageBlocks(int fd);

} // namespace PackageSignatures
