#pragma once

// Plain functions over a parsed signature block. Every failure is a null or
// zero result plus one diagnostic line on standard error.

#include <openssl/cms.h>
#include <openssl/x509.h>

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

TORVEL_EXTERN_C_END
