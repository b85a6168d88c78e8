#pragma once

#include "core/Message.h"

namespace Validator {

// Findings about the launcher icons.
enum class IconMessage : std::size_t {
    IconMissingOrWrongSize = 0,
};

const MessageGroup& messageGroupOf(IconMessage);

} // namespace Validator
