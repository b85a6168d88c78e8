#pragma once

#include <cstddef>
#include <vector>

#include "torvel/Group.h"

namespace PackageSignatures {

// Where a new block goes: how many of the existing blocks stay in front of
// it, and whether the signer may add a block there at all.
struct SigningPosition {
    bool allowed = false;
    size_t keptBlocks = 0;
};

// blockGroups are the certificate groups of the blocks in file order.
// Replacing drops the last block when its signer has the signer's group,
// or every block when a developer signs; then the developer comes first, a
// seclab or client second, and a client third, after a seclab only.
SigningPosition planSigningPosition(const std::vector<Group>& blockGroups, Group signer, bool replace);

} // namespace PackageSignatures
