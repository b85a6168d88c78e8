#pragma once

#include <string>

#include "torvel/Export.h"

namespace PackageSignatures {

// The signer's role, from the first field of the certificate group text.
enum Group : int {
    GroupNone = 0,
    GroupDeveloper = 1,
    GroupSeclab = 2,
    GroupClient = 3,
};

// The kind of application a developer may publish, from the second field.
enum Subgroup : int {
    SubgroupNone = 0,
    SubgroupRegular = 1,
    SubgroupAntivirus = 2,
    SubgroupExtended = 3,
    SubgroupMdm = 4,
    SubgroupAuth = 5,
    SubgroupMarket = 6,
    SubgroupSystemApp = 7,
    SubgroupSubstituteComponent = 8,
};

// One bit per group, for the masks of who may add the next signature block.
enum GroupFlag : int {
    GroupFlagNone = 0,
    GroupFlagDeveloper = 1,
    GroupFlagSeclab = 2,
    GroupFlagClient = 4,
};

constexpr GroupFlag groupFlag(Group group)
{
    switch (group) {
    case GroupDeveloper: return GroupFlagDeveloper;
    case GroupSeclab: return GroupFlagSeclab;
    case GroupClient: return GroupFlagClient;
    default: return GroupFlagNone;
    }
}

TORVEL_EXPORT std::string groupToString(Group group);
TORVEL_EXPORT std::string subgroupToString(Subgroup subgroup);
TORVEL_EXPORT Group groupFromString(const char* text);
TORVEL_EXPORT Subgroup subgroupFromString(const char* text);

} // namespace PackageSignatures
