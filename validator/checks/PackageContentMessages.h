#pragma once

#include "core/Message.h"

namespace Validator {

// Findings of the header-level package checks: name, vendor, dependencies,
// scripts, and the type, modes, owners, link target and name of each entry.
enum class PackageContentMessage : std::size_t {
    NameNotReverseDomain = 0,
    DependencyUnstable = 1,
    DependencyNotAllowed = 2,
    ProvideNotAllowed = 3,
    ProvideMissing = 4,
    ConflictNotAllowed = 5,
    ConflictMissing = 6,
    ObsoleteNotAllowed = 7,
    VendorDiscouraged = 8,
    VendorNotAllowed = 9,
    ScriptsNotAllowed = 10,
    SpecialModeBits = 11,
    FileExecutable = 12,
    Writable = 13,
    WritableTolerated = 14,
    UserNotRoot = 15,
    GroupNotRoot = 16,
    SymlinkNotice = 17,
    SymlinkTargetNotAllowed = 18,
    UnsupportedFileType = 19,
    ForbiddenExtension = 20,
    EmptyDirectory = 21,
};

const MessageGroup& messageGroupOf(PackageContentMessage);

} // namespace Validator
