#pragma once

#include "core/Message.h"

namespace Validator {

// Messages about where a package installs its files and about its
// architecture; shared by the dispatcher and the path validator.
enum class PackageMessage : std::size_t {
    InstallationNotAllowed = 0,
    QmlOnlyShouldBeNoarch = 1,
    DebugContent = 2,
    OwnsUsrBin = 3,
    HardcodedPath = 4,
};

const MessageGroup& messageGroupOf(PackageMessage);

} // namespace Validator
