#pragma once

// Private ASN.1 structures carried in signature blocks, with OpenSSL-style
// item templates, codecs and PEM functions. Usable from C.
//
//   FileSignature          ::= SEQUENCE { index INTEGER, value OCTET STRING }
//   FileSignatures         ::= SEQUENCE { version INTEGER, signatures SEQUENCE OF FileSignature }
//   ProofOfRotationSignedAttrs ::= SEQUENCE { oldCert Certificate, newCert Certificate }
//   ProofOfRotation        ::= SEQUENCE { signedAttrs ProofOfRotationSignedAttrs,
//                                         oldSignatureAlgorithm AlgorithmIdentifier, oldSignature OCTET STRING,
//                                         newSignatureAlgorithm AlgorithmIdentifier, newSignature OCTET STRING }
//   ProofOfRotationChain   ::= SEQUENCE OF ProofOfRotation

#include <stdio.h>

#include <openssl/asn1.h>
#include <openssl/pem.h>
#include <openssl/safestack.h>
#include <openssl/x509.h>

#include "torvel/Export.h"

TORVEL_EXTERN_C_BEGIN

typedef struct FileSignature_st FileSignature;
typedef struct FileSignatures_st FileSignatures;
typedef struct ProofOfRotationSignedAttrs_st ProofOfRotationSignedAttrs;
typedef struct ProofOfRotation_st ProofOfRotation;

DEFINE_STACK_OF(FileSignature)
DEFINE_STACK_OF(ProofOfRotation)

// An empty chain is an empty stack, so the chain has no constructor function.
typedef STACK_OF(ProofOfRotation) ProofOfRotationChain;

DECLARE_ASN1_FUNCTIONS_attr(extern TORVEL_EXPORT, FileSignature)
DECLARE_ASN1_FUNCTIONS_attr(extern TORVEL_EXPORT, FileSignatures)
DECLARE_ASN1_FUNCTIONS_attr(extern TORVEL_EXPORT, ProofOfRotationSignedAttrs)
DECLARE_ASN1_FUNCTIONS_attr(extern TORVEL_EXPORT, ProofOfRotation)

DECLARE_ASN1_ITEM_attr(extern TORVEL_EXPORT, ProofOfRotationChain)
TORVEL_EXPORT ProofOfRotationChain* d2i_ProofOfRotationChain(ProofOfRotationChain** out, const unsigned char** in, long len);
TORVEL_EXPORT int i2d_ProofOfRotationChain(const ProofOfRotationChain* chain, unsigned char** out);
// Frees the stack and every proof in it.
TORVEL_EXPORT void ProofOfRotationChain_free(ProofOfRotationChain* chain);

TORVEL_EXPORT ProofOfRotationChain* PEM_read_bio_ProofOfRotationChain(BIO* bio, ProofOfRotationChain** out, pem_password_cb* cb, void* u);
TORVEL_EXPORT ProofOfRotationChain* PEM_read_ProofOfRotationChain(FILE* fp, ProofOfRotationChain** out, pem_password_cb* cb, void* u);
TORVEL_EXPORT int PEM_write_bio_ProofOfRotationChain(BIO* bio, const ProofOfRotationChain* chain);
TORVEL_EXPORT int PEM_write_ProofOfRotationChain(FILE* fp, const ProofOfRotationChain* chain);

TORVEL_EXPORT int FileSignatures_count(const FileSignatures* signatures);
TORVEL_EXPORT FileSignature* FileSignatures_get0_at(const FileSignatures* signatures, int i);
TORVEL_EXPORT long FileSignature_index(const FileSignature* signature);
// Points into the structure; len may be null.
TORVEL_EXPORT const unsigned char* FileSignature_value(const FileSignature* signature, int* len);

TORVEL_EXPORT int ProofOfRotationChain_count(const ProofOfRotationChain* chain);
TORVEL_EXPORT ProofOfRotation* ProofOfRotationChain_get0_at(const ProofOfRotationChain* chain, int i);
TORVEL_EXPORT ProofOfRotationChain* ProofOfRotationChain_read(const char* path);
TORVEL_EXPORT X509* ProofOfRotation_get0_old_cert(const ProofOfRotation* proof);
TORVEL_EXPORT X509* ProofOfRotation_get0_new_cert(const ProofOfRotation* proof);

TORVEL_EXTERN_C_END
