#pragma once

#include <optional>
#include <string>

#include "common/LibcHandles.h"
#include "common/UniqueFd.h"

namespace PackageSignatures {

// Every file the library reads is opened through here, and only when it is
// a regular file: the open never waits (O_NONBLOCK, so a FIFO or a device
// cannot hold it up, and is closed again), and the type is taken from the
// open descriptor, so the file checked is the file read. Each returns no
// descriptor, or null, and says why in `failure` (the system's error text, or "not a
// regular file").
extern const char* const notRegularFile;

// flags: O_RDONLY, O_WRONLY or O_RDWR with O_CREAT, O_EXCL, O_TRUNC or
// O_APPEND; truncation waits until the file is known to be regular.
Common::UniqueFd openRegularFile(const char* path, int flags, std::string& failure);

// A stream for reading.
Common::Libc::FileHandle openRegularStream(const char* path, std::string& failure);

// The whole file when it is no longer than `limit` bytes (small text files
// such as the configuration).
std::optional<std::string> readRegularFile(const char* path, size_t limit, std::string& failure);

} // namespace PackageSignatures
