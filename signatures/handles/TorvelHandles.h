#pragma once

// Owning handles for libtorvel's own ASN.1 structures, for the library and
// for its callers in this repository. Beside the library rather than in
// common/, which stands below every deliverable and includes none of them;
// not installed, since it stands on common/OwningHandle.h.

#include <torvel/Asn1Structures.h>

#include "common/OwningHandle.h"

namespace Common::Torvel {

using FileSignaturesHandle = Owned<FileSignatures, FileSignatures_free>;
using FileSignatureHandle = Owned<FileSignature, FileSignature_free>;
using ProofOfRotationHandle = Owned<ProofOfRotation, ProofOfRotation_free>;
using ProofOfRotationChainHandle = Owned<ProofOfRotationChain, ProofOfRotationChain_free>;

} // namespace Common::Torvel
