#pragma once

#include <string>
#include <vector>

#include <torvel/Certificate.h>
#include <torvel/Cms.h>

namespace Validator {

// The signature blocks appended to the package file at path, in file order.
// Throws Common::Error (FileNotFound) when the file cannot be opened at all.
std::vector<PackageSignatures::Cms> readPackageCmses(const std::string& path);

// The signer certificate of the first block, when that signer is a
// developer. Throws Common::Error (MissingDeveloperSignature) otherwise.
PackageSignatures::Certificate developerCertificate(const std::vector<PackageSignatures::Cms>& cmses);

} // namespace Validator
