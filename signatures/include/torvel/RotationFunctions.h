#pragma once

// Proofs of rotation: the old and the new key of a developer both sign the
// pair of certificates, so that packages signed with the new key are known
// to come from the same developer.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "torvel/Asn1Structures.h"
#include "torvel/Export.h"

TORVEL_EXTERN_C_BEGIN

// Takes references of its own to both certificates; free with ProofOfRotation_free.
TORVEL_EXPORT ProofOfRotation* ProofOfRotation_create(X509* oldCert, EVP_PKEY* oldKey, X509* newCert,
                                                      EVP_PKEY* newKey);
// 1 valid, 0 a signature does not match, -1 the check could not be made.
TORVEL_EXPORT int ProofOfRotation_verify(ProofOfRotation* proof);
// 1 when every proof is valid and each one starts from the key the one
// before it ended with; otherwise 0 or the failing proof's result.
TORVEL_EXPORT int ProofOfRotationChain_verify(ProofOfRotationChain* chain);
// Appends a proof from the old to the new pair to the chain at inChainPath
// (a new chain when null) and saves it as PEM at outPath. 0 or -1.
TORVEL_EXPORT int make_proof_of_rotation_chain(const char* outPath, const char* inChainPath, const char* oldCertPath,
                                               const char* oldKeyPath, const char* newCertPath,
                                               const char* newKeyPath);

TORVEL_EXTERN_C_END
