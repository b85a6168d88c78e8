#pragma once

#include "core/Message.h"

namespace Validator {

// Findings about the application manifest, /manifest.json.
enum class ManifestMessage : std::size_t {
    InvalidJson = 0,
    UnknownKey = 1,
    WrongType = 2,
    MissingMinOsVersion = 3,
    InvalidMinOsVersion = 4,
    IncompatibleOsVersion = 5,
};

const MessageGroup& messageGroupOf(ManifestMessage);

} // namespace Validator
