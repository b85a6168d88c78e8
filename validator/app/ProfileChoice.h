#pragma once

#include "core/Profile.h"

#include <string>

namespace Validator {

// The profile named by the subgroup of the certificate that signed the
// package's developer block. Throws when the package has no readable
// developer certificate or its subgroup names no profile.
Profile profileFromPackageSignature(const std::string& absolutePath);

} // namespace Validator
