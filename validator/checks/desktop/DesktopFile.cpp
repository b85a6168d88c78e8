#include "checks/desktop/DesktopFile.h"

#include "package/PackagedFile.h"

namespace Validator {

std::optional<AppManifest::ManifestEntry> loadDesktopEntry(const UnpackedTree& tree, const std::string& path)
{
    const std::optional<PackagedFile> file = PackagedFile::open(tree, path);
    if (!file)
        return std::nullopt;
    return AppManifest::ManifestEntry::fromDescriptor(file->fd());
}

} // namespace Validator
