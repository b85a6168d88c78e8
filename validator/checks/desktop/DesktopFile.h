#pragma once

#include "deskinfo/ManifestEntry.h"

#include <optional>
#include <string>

namespace Validator {

class UnpackedTree;

// The package's desktop file at `path`, parsed. It is opened beneath the
// extraction root, so that a link in its place never hands the parser a
// file of this machine. nullopt when it cannot be read there or is no
// desktop entry, as for any unreadable file.
std::optional<AppManifest::ManifestEntry> loadDesktopEntry(const UnpackedTree& tree, const std::string& path);

} // namespace Validator
