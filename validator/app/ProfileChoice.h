#pragma once

#include "core/Profile.h"

#include <string>
#include <string_view>

namespace Validator {

// The profile named by the subgroup of the certificate that signed the
// package's developer block. Throws when the package has no readable
// developer certificate or its subgroup names no profile.
Profile profileFromPackageSignature(const std::string& absolutePath);

// How the profile was chosen, as the reports record it.
enum class ProfileSource {
    Option,                // -p named a known profile
    VerifiedCertificate,   // the developer block verified against the CA bundle
    UnverifiedCertificate, // the developer certificate, taken at its word
    Default,               // "regular", for want of anything better
};
std::string_view profileSourceName(ProfileSource source);

// Whether the developer's certificate must verify before its subgroup is
// believed, and against which bundle of CA certificates.
struct SignerCheck {
    bool verify = false;
    std::string caBundle;
};

struct ProfileChoice {
    Profile profile = Profile::Regular;
    ProfileSource source = ProfileSource::Default;
};

// The profile -p names; else the one the developer certificate's subgroup
// names, once its block verifies when the check asks for that; else
// "regular". Prints the driver's lines about the choice.
ProfileChoice chooseProfile(const std::string& package, const std::string& requestedName, const SignerCheck& check);

} // namespace Validator
