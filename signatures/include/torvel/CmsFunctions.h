#pragma once

// Plain functions over a parsed signature block. Every failure is a null or
// zero result plus one diagnostic line on standard error.

#include <stdbool.h>
#include <stddef.h>

#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "torvel/Asn1Structures.h"
#include "torvel/Export.h"

TORVEL_EXTERN_C_BEGIN

// Which private attribute cms_get_file_signatures reads.
enum {
    CMS_FILE_SIGNATURES_IMA = 0, // packageFileSignatures: ordinary files
    CMS_FILE_SIGNATURES_TA = 1   // packageTrustletSignatures: trusted applications
};

// Free the result with CMS_ContentInfo_free.
TORVEL_EXPORT CMS_ContentInfo* cms_from_der(const unsigned char* data, long len);
// The single embedded certificate; owned by the CMS.
TORVEL_EXPORT X509* cms_get_certificate(CMS_ContentInfo* cms);
// Base64 of the signer's signature value; release with free().
TORVEL_EXPORT char* cms_get_signature(CMS_ContentInfo* cms);
// kind is CMS_FILE_SIGNATURES_IMA or CMS_FILE_SIGNATURES_TA; free with FileSignatures_free.
TORVEL_EXPORT FileSignatures* cms_get_file_signatures(CMS_ContentInfo* cms, int kind);
// Free with ProofOfRotationChain_free.
TORVEL_EXPORT ProofOfRotationChain* cms_get_rotation_chain(CMS_ContentInfo* cms);

// A detached signature over the bytes of fd from its current position to the
// end of the file, made with the key's default digest; the signer is named
// by its subject key identifier. When those bytes are an RPM package and
// signFiles is set, every regular file inside it is signed too (taKey may
// be null when it holds no trusted application). chain may be null. Returns
// the DER (release with free()) and its length in outLen; fd is left at the
// end of the file.
TORVEL_EXPORT unsigned char* cms_sign(int fd, bool signFiles, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm,
                                      X509* cert, ProofOfRotationChain* chain, size_t* outLen);
// 1 when the CMS signs the len bytes at data (or, in the legacy embedded
// form, their GOST R 34.11-2012 digest) with a certificate that chains to
// the store, and its rotation chain, if any, ends with that certificate.
TORVEL_EXPORT int cms_verify(const unsigned char* data, long len, CMS_ContentInfo* cms, X509_STORE* store);

TORVEL_EXTERN_C_END
