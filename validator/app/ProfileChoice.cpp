#include "app/ProfileChoice.h"

#include "package/Log.h"
#include "package/PackageCmses.h"

#include <torvel/BlockVerification.h>

#include <exception>
#include <filesystem>
#include <stdexcept>

namespace Validator {

namespace {

std::string absolutePath(const std::string& package)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(package, ec);
    return ec ? package : absolute.string();
}

// Why the first block did not verify, in the words of the line that says
// so: OpenSSL's own for a certificate chain ("unable to get local issuer
// certificate"), plain ones for the rest.
std::string problemText(const PackageSignatures::BlockProblem& problem)
{
    using PackageSignatures::BlockIssue;
    switch (problem.issue) {
    case BlockIssue::UnknownIssuer:
    case BlockIssue::CertificateExpired:
    case BlockIssue::CertificateNotYetValid:
    case BlockIssue::CertificateNotForSigning:
    case BlockIssue::InvalidChain:
        if (!problem.detail.empty())
            return problem.detail;
        break;
    case BlockIssue::Unparsable: return "the developer block is malformed or truncated";
    case BlockIssue::MisplacedSigner: return "the first block is signed by a " + problem.detail + ", not a developer";
    case BlockIssue::NoPackageSigningUsage: return "the certificate lacks the package-signing usage or group";
    case BlockIssue::SignatureMismatch: return "the signature was not made with the certificate's key";
    case BlockIssue::CoveredBytesChanged: return "the package changed since the developer signed it";
    default: break;
    }
    return PackageSignatures::describe(problem.issue);
}

std::string untrustedReason(const PackageSignatures::PackageVerification& verification, const SignerCheck& check)
{
    using PackageSignatures::VerificationFailure;
    switch (verification.failure) {
    case VerificationFailure::NoTrustedCertificates:
        return "the CA bundle " + check.caBundle + " cannot be read: " + verification.failureDetail;
    case VerificationFailure::NoBlocks: return "the package has no signature blocks";
    case VerificationFailure::TooManyBlocks: return "the package has more than three signature blocks";
    default: break;
    }
    if (verification.blocks.empty())
        return "the package has no signature blocks";
    std::string reason;
    for (const PackageSignatures::BlockProblem& problem : verification.blocks.front().problems)
        reason += (reason.empty() ? "" : "; ") + problemText(problem);
    return reason;
}

// The subgroup's profile, or "regular" with the line that has always said so.
ProfileChoice fromSubgroup(int subgroup, ProfileSource source)
{
    try {
        const Profile profile = profileBySubgroup(subgroup);
        printError("The " + profileName(profile) + " profile was selected for validation");
        return {profile, source};
    } catch (const std::exception&) {
        printError("Incorrect certificate, falling back to \"regular\" profile...");
        return {Profile::Regular, ProfileSource::Default};
    }
}

} // namespace

Profile profileFromPackageSignature(const std::string& absolutePath)
{
    const PackageSignatures::Certificate certificate = developerCertificate(readPackageCmses(absolutePath));
    return profileBySubgroup(certificate.subgroup());
}

std::string_view profileSourceName(ProfileSource source)
{
    switch (source) {
    case ProfileSource::Option: return "option";
    case ProfileSource::VerifiedCertificate: return "verified-certificate";
    case ProfileSource::UnverifiedCertificate: return "unverified-certificate";
    case ProfileSource::Default: break;
    }
    return "default";
}

ProfileChoice chooseProfile(const std::string& package, const std::string& requestedName, const SignerCheck& check)
{
    try {
        return {profileByName(requestedName), ProfileSource::Option};
    } catch (const std::out_of_range&) {
    }
    printError("Incorrect or empty profile name, trying to get profile from certificate...");
    if (!check.verify) {
        // Any certificate at all: whoever made the package may have made it.
        try {
            const Profile profile = profileFromPackageSignature(absolutePath(package));
            printError("The " + profileName(profile) + " profile was selected for validation");
            return {profile, ProfileSource::UnverifiedCertificate};
        } catch (const std::exception&) {
            printError("Incorrect certificate, falling back to \"regular\" profile...");
            return {Profile::Regular, ProfileSource::Default};
        }
    }
    std::string reason;
    PackageSignatures::PackageVerification verification;
    try {
        verification = verifyDeveloperBlock(absolutePath(package), check.caBundle);
        if (!verification.verified())
            reason = untrustedReason(verification, check);
    } catch (const std::exception& error) {
        reason = error.what();
    }
    if (!reason.empty()) {
        printError("Developer certificate not trusted: " + reason + ", falling back to \"regular\" profile...");
        return {Profile::Regular, ProfileSource::Default};
    }
    // The certificate of the very bytes that verified, not one read again.
    return fromSubgroup(verification.blocks.front().signer->subgroup(), ProfileSource::VerifiedCertificate);
}

} // namespace Validator
