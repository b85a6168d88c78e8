#include "container/SigningPosition.h"

namespace PackageSignatures {

namespace {

int allowedSigners(const std::vector<Group>& blockGroups, size_t kept)
{
    switch (kept) {
    case 0: return GroupFlagDeveloper;
    case 1: return GroupFlagSeclab | GroupFlagClient;
    case 2: return blockGroups[1] == GroupSeclab ? GroupFlagClient : 0;
    default: return 0;
    }
}

} // namespace

SigningPosition planSigningPosition(const std::vector<Group>& blockGroups, Group signer, bool replace)
{
    SigningPosition position;
    position.keptBlocks = blockGroups.size();
    if (replace && !blockGroups.empty()) {
        if (blockGroups.back() == signer)
            position.keptBlocks = blockGroups.size() - 1;
        else if (signer == GroupDeveloper)
            position.keptBlocks = 0;
    }
    position.allowed =
        position.keptBlocks <= 2 && (groupFlag(signer) & allowedSigners(blockGroups, position.keptBlocks)) != 0;
    return position;
}

} // namespace PackageSignatures
