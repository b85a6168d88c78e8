#pragma once

// Plain functions reading keys and certificates and issuing certificates.
// Failures are null, 0 or -1 plus diagnostics on standard error. Strings are
// released with free(), OpenSSL objects with their OpenSSL free functions.

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "torvel/Export.h"

TORVEL_EXTERN_C_BEGIN

// path is a PEM file or a key in a token named by an RFC 7512 URI
// ("pkcs11:token=...;object=...", through OpenSSL's "pkcs11" engine); every
// key argument of this library (keyPath, caKeyPath, the rotation keys) takes
// either. passphrase may be null: OpenSSL then asks on the terminal for an
// encrypted key file. For a token key it is the PIN unless the URI carries
// one (pin-value, pin-source); a PIN is never asked for.
TORVEL_EXPORT EVP_PKEY* private_key_read(const char* path, const char* passphrase);
TORVEL_EXPORT X509* certificate_read(const char* path);
TORVEL_EXPORT X509_STORE* certificate_store_read(const char* path);

TORVEL_EXPORT char* certificate_get_subject(X509* certificate);
// Only for certificates whose extended key usage allows package signing.
TORVEL_EXPORT char* certificate_get_group(X509* certificate);
TORVEL_EXPORT char* certificate_get_keyid(X509* certificate);
TORVEL_EXPORT int certificate_verify(X509* certificate, X509_STORE* store);

TORVEL_EXPORT int make_ca_certificate(const char* outPath, const char* keyPath, const char* commonName);
// group may be null: the certificate then cannot sign packages.
TORVEL_EXPORT int make_certificate(const char* outPath, const char* csrPath, const char* caKeyPath,
                                   const char* caCertPath, const char* group);

TORVEL_EXTERN_C_END
