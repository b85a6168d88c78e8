#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <openssl/x509.h>

#include "torvel/Export.h"
#include "torvel/Group.h"

namespace PackageSignatures {

// Whether a certificate may sign packages, and when not, what it lacks. The
// group is only believed from a certificate whose extended key usage allows
// package signing.
enum class SigningEligibility {
    Eligible,
    NoCertificate,
    NoExtendedKeyUsage, // a CA certificate, for one
    NoPackageSigningUsage,
    NoGroupExtension,
    UnknownGroup, // a group text whose first field names no group
};

// What a person checking a certificate wants to see beyond the facts a
// signer is identified by. Times are seconds since the epoch, UTC.
struct TORVEL_EXPORT CertificateDetails {
    std::string subject; // the first common name, as subject() gives it
    std::string issuer; // one line, RFC 2253 order
    std::string serialNumber; // upper-case hexadecimal
    std::string sha256Fingerprint; // lower-case hexadecimal of the DER's SHA-256
    std::optional<int64_t> notBefore;
    std::optional<int64_t> notAfter;
    std::vector<std::string> keyUsage; // "digitalSignature", "keyCertSign", ...
    std::vector<std::string> extendedKeyUsage; // short names, or dotted numbers for unknown ones
    std::string groupText; // as the certificate carries it, when it allows package signing
    SigningEligibility signing = SigningEligibility::NoCertificate;
};

// One signer certificate with the facts the system identifies a signer by.
// A certificate over no X.509 object has empty texts and no group, which is
// how every reading failure is represented.
class TORVEL_EXPORT Certificate {
public:
    // Takes a reference of its own; certificate may be null.
    explicit Certificate(X509* certificate);
    Certificate(const Certificate& other);
    Certificate& operator=(Certificate&& other) noexcept;
    ~Certificate();

    // As the constructor, but silent about facts the certificate lacks
    // (the constructor prints why each one is missing).
    static Certificate quietly(X509* certificate);
    static Certificate fromDer(const unsigned char* data, size_t len);
    static Certificate readCertificateFromFile(const char* path);
    // The signer certificates of every signature block of a package file.
    static std::vector<Certificate> allFromFilePath(const char* path);

    // Borrowed; null for a certificate that could not be read.
    X509* x509() const;
    std::vector<uint8_t> toDer() const;
    const std::string& subject() const;
    const std::string& keyId() const;
    Group group() const;
    Subgroup subgroup() const;
    // Read afresh from the X.509 object; prints nothing.
    CertificateDetails details() const;
    // The same for a certificate not (yet) made into this class, whose
    // constructor would print why a fact is missing.
    static CertificateDetails detailsOf(X509* certificate);

    // Replaces path only once the whole PEM is written.
    bool saveAsPem(const char* path) const;
    bool verify(const char* caPath) const;
    bool isSystemDeveloperCertificate() const;

private:
    struct Record;
    std::unique_ptr<Record> m_record;
};

// The configured bundle of trusted root certificates.
TORVEL_EXPORT std::string defaultCaPath();

} // namespace PackageSignatures
