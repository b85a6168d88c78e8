#pragma once

#include "torvel/Export.h"

namespace PackageSignatures {

// The first thing found wrong with a package's signature blocks. Blocks are
// checked from the last to the first, and the check stops there.
enum class VerificationFailure {
    None,
    NoTrustedCertificates, // the CA bundle could not be read
    NoBlocks,
    TooManyBlocks,         // more than three
    UnknownBlockVersion,   // a later block of a version that names no covered bytes
    UnparsableBlock,
    InvalidSignature,      // the signature, or its certificate's chain to the CA
    InvalidRotationChain,
    RotationKeyMismatch,   // the chain does not end with the block's certificate
    MisplacedSigner,       // the signer's group may not sign at this position
    MissingFrameHeader,    // a version-3 block without its Zstandard frame header
};

struct TORVEL_EXPORT VerificationResult {
    VerificationFailure failure = VerificationFailure::None;
    // The block that failed, in file order; -1 when the failure concerns no
    // single block.
    int blockIndex = -1;

    bool verified() const { return failure == VerificationFailure::None; }
};

// A short English description of the failure, for tools that explain it.
TORVEL_EXPORT const char* describe(VerificationFailure failure);

} // namespace PackageSignatures
