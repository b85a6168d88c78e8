#include "app/ProfileChoice.h"

#include "package/PackageCmses.h"

namespace Validator {

Profile profileFromPackageSignature(const std::string& absolutePath)
{
    const PackageSignatures::Certificate certificate = developerCertificate(readPackageCmses(absolutePath));
    return profileBySubgroup(certificate.subgroup());
}

} // namespace Validator
