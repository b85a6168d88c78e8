#pragma once

#include "core/Message.h"

namespace Validator {

// Findings about QML imports, from QML files and from imports compiled into
// executables.
enum class QmlImportsMessage : std::size_t {
    ImportNotAllowed = 0,
    ImportUnstable = 1,
    OnlyAllowedImports = 2,
    VarnelApplicationType = 3,
};

const MessageGroup& messageGroupOf(QmlImportsMessage);

} // namespace Validator
