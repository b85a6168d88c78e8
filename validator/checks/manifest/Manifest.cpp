#include "checks/manifest/Manifest.h"

#include "checks/manifest/ManifestMessages.h"
#include "checks/manifest/ManifestRules.h"
#include "package/Filesystem.h"
#include "package/PackagedFile.h"

namespace Validator {

namespace {

// A manifest holds a few keys. A larger file is not read, which keeps the
// parsed document (a multiple of the text's size) small whatever a package
// carries; it counts as unreadable, that is as invalid JSON.
constexpr std::size_t kMaxManifestBytes = 1 << 20;

} // namespace

bool Manifest::accepts(const std::string& path, const std::string&)
{
    return path == "/manifest.json";
}

void Manifest::validate(const std::string& path, const std::string&)
{
    std::optional<std::string> text;
    if (auto file = PackagedFile::open(unpackedTree(), path))
        text = file->readAll(kMaxManifestBytes);
    if (!text) {
        logger().add(ManifestMessage::InvalidJson);
        return;
    }
    // The OS version lookup throws when the platform root names no version;
    // the run of this package then stops with that error.
    ManifestRules::checkManifest(*text, [] { return Validator::Filesystem::osVersion(); }, logger());
}

} // namespace Validator
