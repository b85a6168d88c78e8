#pragma once

#include <functional>
#include <string>
#include <vector>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/x509_vfy.h>

#include "common/OpenSslHandles.h"
#include "torvel/BlockVerification.h"
#include "torvel/Verification.h"

namespace PackageSignatures {

// The check of one CMS over the bytes read from `data`: its signature and
// certificate chain, then its rotation chain. The failure, or None.
VerificationFailure checkCms(BIO* data, CMS_ContentInfo* cms, X509_STORE* store);

// The bytes a block covers, opened afresh for each look at them; null when
// they cannot be.
using CoveredBytes = std::function<Common::OpenSsl::BioHandle()>;

struct CmsInspection {
    std::vector<BlockProblem> problems; // empty: the CMS holds
    std::string opensslErrors;
};

// The checks of checkCms, with the same verdict, but silent: what fails is
// told as problems. A failed signature check is looked at again, part by
// part, to tell the certificate chain, the signature and the covered bytes
// apart; so the covered bytes are read once more only when it fails.
CmsInspection inspectCms(const CoveredBytes& covered, CMS_ContentInfo* cms, X509_STORE* store);

// A source over bytes [start, end) of the file, read with positioned reads
// behind a buffer, so the file is neither loaded nor mapped whole.
BIO* fileRangeSource(int fd, int64_t start, int64_t end);

} // namespace PackageSignatures
