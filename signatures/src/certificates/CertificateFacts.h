#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <openssl/asn1.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "torvel/Certificate.h"

namespace PackageSignatures {

// The certificate group as certificate_get_group reads it, with what stands
// in the way as a value instead of a diagnostic. The text is set whenever
// the certificate carries one and allows package signing, even when it
// names no group (UnknownGroup).
struct GroupReading {
    SigningEligibility eligibility = SigningEligibility::NoCertificate;
    std::string text;
};
GroupReading readCertificateGroup(X509* certificate);

CertificateDetails certificateDetails(X509* certificate);

// The PEM certificates of a bundle in a new store, read until the first
// block that does not parse. Null when the file cannot be opened (failure
// says why) or no store can be made.
struct TrustedCertificates {
    X509_STORE* store = nullptr; // the caller's
    int added = 0;
    int refused = 0; // certificates the store would not take
    bool allocationFailed = false;
    std::string failure;
};
TrustedCertificates readTrustedCertificates(const char* path);

// The key id: the subject key identifier in lower-case hexadecimal; empty
// without one.
std::string subjectKeyIdText(X509* certificate);

// A name on one line, RFC 2253 order, UTF-8 left as it is.
std::string distinguishedName(const X509_NAME* name);

// Seconds since the epoch; empty for a time OpenSSL cannot read.
std::optional<int64_t> epochSeconds(const ASN1_TIME* time);

} // namespace PackageSignatures
