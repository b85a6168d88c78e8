#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <openssl/x509.h>

#include "torvel/Export.h"
#include "torvel/Group.h"

namespace PackageSignatures {

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
