#pragma once

#include "torvel/Asn1Structures.h"
#include "torvel/RotationChain.h"

namespace PackageSignatures {

struct RotationChainCheck {
    RotationChainVerification verification;
    // What ProofOfRotationChain_verify returns: 1, 0, or a failing proof's -1.
    int result = 0;
};

enum class Diagnostics { Print, Silent };

// The chain check behind ProofOfRotationChain_verify and RotationChain::verify,
// with its diagnostics unless Silent.
RotationChainCheck checkRotationChain(ProofOfRotationChain* chain, Diagnostics diagnostics = Diagnostics::Print);

} // namespace PackageSignatures
