#pragma once

#include "core/Message.h"

namespace Validator {

// Findings about the integrity daemon's watch list of the package.
enum class IntegritydMessage : std::size_t {
    Mismatch = 0,
    InvalidJson = 1,
};

const MessageGroup& messageGroupOf(IntegritydMessage);

} // namespace Validator
