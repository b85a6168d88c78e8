#pragma once

#include <cstdint>
#include <optional>

#include <openssl/cms.h>

#include "torvel/Asn1Structures.h"

namespace PackageSignatures {

// Readers of a parsed block that say nothing: for checks that report what
// they find as values. The exported cms_get_* functions print why they fail.

// The signer info, when there is exactly one; borrowed.
CMS_SignerInfo* onlySignerInfo(CMS_ContentInfo* cms);
// The embedded certificate, when there is exactly one; borrowed.
X509* onlyCertificate(CMS_ContentInfo* cms);
// Empty without the attribute; a null chain when it does not decode. The
// caller frees a chain with ProofOfRotationChain_free.
std::optional<ProofOfRotationChain*> decodeRotationChain(CMS_ContentInfo* cms);
// The signingTime signed attribute, seconds since the epoch.
std::optional<int64_t> signingTime(CMS_ContentInfo* cms);

} // namespace PackageSignatures
