#pragma once

#include "core/Message.h"

namespace Validator {

// Findings about managed-configuration parameter files.
enum class ManagedConfigurationMessage : std::size_t {
    InvalidParameterFile = 0,
};

const MessageGroup& messageGroupOf(ManagedConfigurationMessage);

} // namespace Validator
