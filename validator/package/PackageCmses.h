#pragma once

#include <optional>
#include <string>
#include <vector>

#include <torvel/BlockVerification.h>
#include <torvel/Certificate.h>
#include <torvel/Cms.h>

namespace Validator {

// The signature blocks appended to the package file at path, in file order.
// Throws Common::Error (FileNotFound) when the file cannot be opened at all.
std::vector<PackageSignatures::Cms> readPackageCmses(const std::string& path);

// The signer certificate of the first block, when that signer is a
// developer. Throws Common::Error (MissingDeveloperSignature) otherwise.
PackageSignatures::Certificate developerCertificate(const std::vector<PackageSignatures::Cms>& cmses);

// The package's first block checked as `torvel verify` checks it: the CMS
// signature over the package bytes, the certificate chain to the CA bundle
// at caBundle, and the package-signing usage of a developer. Throws
// Common::Error (FileNotFound) when the file cannot be opened.
PackageSignatures::PackageVerification verifyDeveloperBlock(const std::string& path, const std::string& caBundle);

// Why the CA bundle at path cannot serve a check: it is missing, not a
// regular file, empty, or holds no PEM certificate. Empty when it can.
std::optional<std::string> caBundleProblem(const std::string& path);

} // namespace Validator
