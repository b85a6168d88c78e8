#include "package/Error.h"

#include <array>
#include <utility>

namespace Common {

namespace {

struct CodeEntry {
    ErrorCode code;
    const char* name;
    const char* message;
};

constexpr std::array kCodes = {
    CodeEntry{ErrorCode::None, "org.brevane.KVD.Error.None", "No error occurred"},
    CodeEntry{ErrorCode::Filesystem, "org.brevane.KVD.Error.Filesystem", "Filesystem error occurred"},
    CodeEntry{ErrorCode::Internal, "org.brevane.KVD.Error.Internal", "Internal error occurred"},
    CodeEntry{ErrorCode::FileNotFound, "org.brevane.KVD.Error.FileNotFound", "The installation package path does not exist"},
    CodeEntry{ErrorCode::BadPackageID, "org.brevane.KVD.Error.BadPackageID", "The package has an invalid ID"},
    CodeEntry{ErrorCode::BadPackageArchitecture, "org.brevane.KVD.Error.BadPackageArchitecture", "The package architecture does not match the system architecture"},
    CodeEntry{ErrorCode::DowngradeAttempt, "org.brevane.KVD.Error.DowngradeAttempt", "Attempt to downgrade the package"},
    CodeEntry{ErrorCode::PackageNotExist, "org.brevane.KVD.Error.PackageNotExist", "The package does not exist"},
    CodeEntry{ErrorCode::CorruptedInstalledPackage, "org.brevane.KVD.Error.CorruptedInstalledPackage", "Attempt to retrieve data about a corrupted package"},
    CodeEntry{ErrorCode::UnauthorizedAccess, "org.brevane.KVD.Error.UnauthorizedAccess", "The process is not authorized to perform the action"},
    CodeEntry{ErrorCode::SystemPackageInstallationAttempt, "org.brevane.KVD.Error.SystemPackageInstallationAttempt", "Attempt to install a package with system developer signature"},
    CodeEntry{ErrorCode::PackagesWithoutSourceNotAllowed, "org.brevane.KVD.Error.PackagesWithoutSourceNotAllowed", "Installation of packages without a source signature is not allowed"},
    CodeEntry{ErrorCode::SourceRejectedByAdministrator, "org.brevane.KVD.Error.SourceRejectedByAdministrator", "The administrator rejected the request to add a source to the trusted list"},
    CodeEntry{ErrorCode::UserNotAuthorizedToManageTrustedSources, "org.brevane.KVD.Error.UserNotAuthorizedToManageTrustedSources", "The current user has no rights to add a source to the trusted list"},
    CodeEntry{ErrorCode::MissingDeveloperSignature, "org.brevane.KVD.Error.MissingDeveloperSignature", "The package does not have a developer's signature"},
    CodeEntry{ErrorCode::DeveloperMismatch, "org.brevane.KVD.Error.DeveloperMismatch", "The developer of the already installed package does not match the developer of the package being installed"},
    CodeEntry{ErrorCode::DeveloperKeySuperseded, "org.brevane.KVD.Error.DeveloperKeySuperseded", "The package is signed with a developer key that has been superseded"},
    CodeEntry{ErrorCode::DeveloperKeyBlacklisted, "org.brevane.KVD.Error.DeveloperKeyBlacklisted", "The package is signed with a developer key that has been blacklisted"},
    CodeEntry{ErrorCode::IllegalDeveloperCertificate, "org.brevane.KVD.Error.IllegalDeveloperCertificate", "The package is signed with an illegal developer certificate"},
    CodeEntry{ErrorCode::IllegalSourceCertificate, "org.brevane.KVD.Error.IllegalSourceCertificate", "The package is signed with an illegal source certificate"},
    CodeEntry{ErrorCode::BadPackageVersion, "org.brevane.KVD.Error.BadPackageVersion", "The package version has an incorrect value"},
    CodeEntry{ErrorCode::BadPackageContent, "org.brevane.KVD.Error.BadPackageContent", "The package did not pass content validation"},
    CodeEntry{ErrorCode::BadPackageFileFormat, "org.brevane.KVD.Error.BadPackageFileFormat", "Failed to parse the package or read the required package data"},
    CodeEntry{ErrorCode::PackageHasDisallowedOrgname, "org.brevane.KVD.Error.PackageHasDisallowedOrgname", "The package has a disallowed organization name"},
    CodeEntry{ErrorCode::FileConflict, "org.brevane.KVD.Error.FileConflict", "File conflict found when installing the package"},
    CodeEntry{ErrorCode::SamePackageIsInstalled, "org.brevane.KVD.Error.SamePackageIsInstalled", "Package with the same version is already installed"},
    CodeEntry{ErrorCode::InvalidArguments, "org.brevane.KVD.Error.InvalidArguments", "The passed arguments are not valid"},
    CodeEntry{ErrorCode::SourceNotAllowed, "org.brevane.KVD.Error.SourceNotAllowed", "Source not allowed by administrator"},
    CodeEntry{ErrorCode::PackageProfileConflict, "org.brevane.KVD.Error.PackageProfileConflict", "Package with this unique profile is already installed"},
    CodeEntry{ErrorCode::SignatureVerificationFailed, "org.brevane.KVD.Error.SignatureVerificationFailed", "Package signature verification failed"},
    CodeEntry{ErrorCode::DisallowedDeveloperSubgroup, "org.brevane.KVD.Error.DisallowedDeveloperSubgroup", "The package has a developer signature with a disallowed subgroup"},
};

const CodeEntry* findCode(int value)
{
    for (const CodeEntry& entry : kCodes)
        if (static_cast<int>(entry.code) == value)
            return &entry;
    return nullptr;
}

} // namespace

const char* ErrorCodeCategoryImpl::name() const noexcept
{
    return "Common::ErrorCategory";
}

std::string ErrorCodeCategoryImpl::message(int value) const
{
    const CodeEntry* entry = findCode(value);
    return entry ? entry->message : findCode(static_cast<int>(ErrorCode::Internal))->message;
}

const std::error_category& errorCategory()
{
    static const ErrorCodeCategoryImpl category;
    return category;
}

std::error_code makeErrorCode(ErrorCode code)
{
    return {static_cast<int>(code), errorCategory()};
}

const char* errorName(ErrorCode code)
{
    const CodeEntry* entry = findCode(static_cast<int>(code));
    return entry ? entry->name : "";
}

Error::Error(std::error_code code, std::string detail)
    : std::runtime_error(code.category().message(code.value())), m_code(code), m_detail(std::move(detail))
{
}

} // namespace Common
