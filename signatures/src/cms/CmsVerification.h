#pragma once

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/x509_vfy.h>

#include "torvel/Verification.h"

namespace PackageSignatures {

// The check of one CMS over the bytes read from `data`: its signature and
// certificate chain, then its rotation chain. The failure, or None.
VerificationFailure checkCms(BIO* data, CMS_ContentInfo* cms, X509_STORE* store);

// A source over bytes [start, end) of the file, read with positioned reads
// behind a buffer, so the file is neither loaded nor mapped whole.
BIO* fileRangeSource(int fd, int64_t start, int64_t end);

} // namespace PackageSignatures
