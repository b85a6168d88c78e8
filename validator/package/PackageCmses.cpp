#include "package/PackageCmses.h"

#include <torvel/FileWithCmses.h>

#include "package/Error.h"

namespace Validator {

std::vector<PackageSignatures::Cms> readPackageCmses(const std::string& path)
{
    // Read-write first, read-only as the fallback: the validator only reads,
    // but the library's own notice about the fallback is worth seeing.
    const auto file = PackageSignatures::FileWithCmses::fromPath(path);
    if (!file)
        throw Common::Error(Common::ErrorCode::FileNotFound, "Couldn't open RPM package for reading cmses: " + path);
    return file->cmses();
}

PackageSignatures::Certificate developerCertificate(const std::vector<PackageSignatures::Cms>& cmses)
{
    const auto developer = PackageSignatures::developerCmsFromVector(cmses);
    if (!developer)
        throw Common::Error(Common::ErrorCode::MissingDeveloperSignature, "Package doesn't have developer certificate");
    return *developer->certificate();
}

} // namespace Validator
