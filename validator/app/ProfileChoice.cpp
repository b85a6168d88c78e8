#include "app/ProfileChoice.h"

#include "package/Error.h"

namespace Validator {

Profile profileFromPackageSignature(const std::string&)
{
    // Reading signature blocks needs the signature library, which is not
    // built yet; every package falls back to the regular profile.
    throw Common::Error(Common::ErrorCode::Internal, "Signature reading is not built yet");
}

} // namespace Validator
