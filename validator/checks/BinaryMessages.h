#pragma once

#include "core/Message.h"

namespace Validator {

// Findings about executables, libraries and their run paths; code 8 is the
// path validator's, the others the executable validator's.
enum class BinaryMessage : std::size_t {
    NoLibcStartMain = 0,
    MainNotExported = 1,
    MainMustBeExported = 2,
    RpathEmpty = 3,
    RpathNotAllowed = 4,
    RpathMissing = 5,
    MainBinaryMustNotExist = 6,
    MainBinaryMissing = 7,
    BadExecutableFormat = 8,
    ArchContentInNoarch = 9,
    WrongFormatOrEncoding = 10,
    WrongLocation = 11,
    MainBinaryNotExecutable = 12,
    LibraryUnstable = 13,
    LibraryNotAllowed = 14,
};

const MessageGroup& messageGroupOf(BinaryMessage);

} // namespace Validator
