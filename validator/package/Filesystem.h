#pragma once

#include <filesystem>
#include <string>

namespace Validator {
class UnpackedTree;
}

// Uniform behaviour around std::filesystem: queries that never throw, and
// operations that throw Common::Error with a readable detail.
namespace Validator::Filesystem {

// True when the path, links followed, is a directory. A filesystem failure is
// logged as an error line and answered with false.
bool isDirectory(const std::filesystem::path& path);

// False when the path, links followed, is not a regular file; otherwise true
// when any bit of `mask` is set in its permissions.
// Throws Common::Error (Filesystem) when the permissions cannot be read.
bool hasPermission(const std::filesystem::path& path, std::filesystem::perms mask);

// The same two questions of a file of an unpacked package: `path` is a
// package path, resolved with its links beneath the tree's root, and
// failures name the root joined with it.
bool isDirectory(const UnpackedTree& tree, const std::string& path);
bool hasPermission(const UnpackedTree& tree, const std::string& path, std::filesystem::perms mask);

// Throw Common::Error (Filesystem) on failure.
void removeAll(const std::filesystem::path& path);
void createDirectories(const std::filesystem::path& path);

// The root of the platform's file system: $KVD_ROOT_FS when set (even when
// empty), otherwise "/". Read anew at every call.
std::filesystem::path rootFs();

// VERSION_ID of <root>/etc/os-release, verbatim (quotes stay).
// Throws Common::Error (Internal) when it cannot be found.
std::string osVersion();

} // namespace Validator::Filesystem
