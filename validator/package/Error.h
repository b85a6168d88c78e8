#pragma once

#include <stdexcept>
#include <string>
#include <system_error>

namespace Common {

// Codes shared with the platform's package-management services; the numbering
// is fixed, gaps included, because the services exchange the values.
enum class ErrorCode : int {
    None = 0,
    Filesystem = 1,
    Internal = 2,
    FileNotFound = 3,
    BadPackageID = 5,
    BadPackageArchitecture = 6,
    DowngradeAttempt = 8,
    PackageNotExist = 10,
    CorruptedInstalledPackage = 11,
    UnauthorizedAccess = 13,
    SystemPackageInstallationAttempt = 14,
    PackagesWithoutSourceNotAllowed = 15,
    SourceRejectedByAdministrator = 16,
    UserNotAuthorizedToManageTrustedSources = 17,
    MissingDeveloperSignature = 18,
    DeveloperMismatch = 19,
    DeveloperKeySuperseded = 20,
    DeveloperKeyBlacklisted = 21,
    IllegalDeveloperCertificate = 22,
    IllegalSourceCertificate = 23,
    BadPackageVersion = 24,
    BadPackageContent = 25,
    BadPackageFileFormat = 26,
    PackageHasDisallowedOrgname = 27,
    FileConflict = 28,
    SamePackageIsInstalled = 29,
    InvalidArguments = 30,
    SourceNotAllowed = 31,
    PackageProfileConflict = 32,
    SignatureVerificationFailed = 33,
    DisallowedDeveloperSubgroup = 34,
};

class ErrorCodeCategoryImpl : public std::error_category {
public:
    const char* name() const noexcept override;
    std::string message(int value) const override;
};

const std::error_category& errorCategory();
std::error_code makeErrorCode(ErrorCode code);
// Found by argument-dependent lookup when a code converts to std::error_code.
inline std::error_code make_error_code(ErrorCode code) { return makeErrorCode(code); }

// The dotted name under which the platform services know a code; empty for
// values outside the table.
const char* errorName(ErrorCode code);

// The validator's one exception type. what() is the thrower's detail text;
// the base runtime_error keeps the code's standard message.
class Error : public std::runtime_error {
public:
    Error(std::error_code code, std::string detail);
    Error(ErrorCode code, std::string detail) : Error(makeErrorCode(code), std::move(detail)) {}

    const std::error_code& code() const noexcept { return m_code; }
    const char* what() const noexcept override { return m_detail.c_str(); }
    // The code's standard message.
    const char* standardMessage() const noexcept { return std::runtime_error::what(); }

private:
    std::error_code m_code;
    std::string m_detail;
};

} // namespace Common

namespace std {
template <>
struct is_error_code_enum<Common::ErrorCode> : true_type {};
} // namespace std
