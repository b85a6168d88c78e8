#pragma once

#include <optional>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace PackageSignatures {

// The digest a key signs with by default (its OpenSSL default digest), with
// a diagnostic when there is none.
const EVP_MD* defaultDigest(EVP_PKEY* key);

// GOST R 34.11-2012 256-bit, from the gost engine; null with a diagnostic
// when the engine is not loaded.
const EVP_MD* gost2012Digest256();
// The same without the diagnostic.
const EVP_MD* findGost2012Digest256();

// The key id the system gives a key: the 256-bit GOST R 34.11-2012 digest of
// its DER SubjectPublicKeyInfo.
std::optional<std::vector<unsigned char>> keyIdentifierOf(EVP_PKEY* publicKey);

std::string lowerHex(const unsigned char* data, size_t len);

} // namespace PackageSignatures
