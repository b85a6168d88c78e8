#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Validator {

using IniEntries = std::vector<std::pair<std::string, std::string>>;

inline constexpr char kCapabilitiesGroup[] = "X-Taliro-Capabilities";

class PackagedFile;

// Reads a file with Boost's INI reader and returns the keys of the
// capabilities group in file order, with their values for the keys in
// `valuesOf` (empty for the others); an absent or empty group gives no
// entries. nullopt when a read fails, the file is beyond the limits of
// AppManifest::ManifestEntry (its size, its section lines, its key lines),
// or the INI reader refuses it (a line without "=", a section or a key
// given twice).
//
// The reader is given a tree of its own kind that remembers only what its
// verdict and the answer need: the section names, the keys of the section
// being read, and the one section asked for. Values of other keys never
// reach it. So a hostile file of millions of keys or of one huge value
// costs a fraction of what a full property tree would hold.
std::optional<IniEntries> readCapabilitiesSection(PackagedFile& file, const std::vector<std::string>& valuesOf);

} // namespace Validator
