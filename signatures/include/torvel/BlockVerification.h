#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "torvel/Certificate.h"
#include "torvel/Export.h"
#include "torvel/RotationChain.h"
#include "torvel/Verification.h"

namespace PackageSignatures {

// Something found wrong with one signature block. A block may show several;
// they come in the order the checks run.
enum class BlockIssue {
    UnknownVersion,         // a later block of a version that names no covered bytes
    MissingFrameHeader,     // a version-3 block without its Zstandard frame header
    Unparsable,             // not a CMS
    NoSignerCertificate,    // not exactly one certificate in the CMS
    UnknownIssuer,          // no CA of the bundle issued the certificate (or its chain)
    CertificateExpired,
    CertificateNotYetValid,
    CertificateNotForSigning, // its key usage does not allow signing
    InvalidChain,           // any other failure of the certificate chain
    SignatureMismatch,      // the signature was not made with the certificate's key
    CoveredBytesChanged,    // the bytes the block covers are not those it signed
    NoPackageSigningUsage,  // the certificate may not sign packages (see details().signing)
    MisplacedSigner,        // the signer's group may not sign at this position
    InvalidRotationChain,
    RotationKeyMismatch,    // the chain does not end with the block's certificate
    KeyBlacklisted,         // by the trust database: the key or an earlier key of its chain
    KeySuperseded,          // by the trust database: a later key replaced it
};

struct TORVEL_EXPORT BlockProblem {
    BlockIssue issue = BlockIssue::Unparsable;
    // What the check itself said, when it said more than the issue: OpenSSL's
    // text for a chain failure, the proof that failed, the key id revoked.
    std::string detail;
};

// A short English phrase for the issue, for tools that explain it.
TORVEL_EXPORT const char* describe(BlockIssue issue);

// What one block is and what was found wrong with it.
struct TORVEL_EXPORT BlockVerification {
    enum class Coverage {
        Package,       // the package bytes in front of every block
        PreviousBlock, // the DER and trailer of the block before it
    };

    size_t index = 0; // in file order, from 0
    uint32_t version = 0;
    int64_t offset = 0; // first DER byte
    int64_t size = 0;   // DER length
    Coverage covers = Coverage::Package;
    int64_t coveredStart = 0;
    int64_t coveredEnd = 0;
    // Never null: a certificate over no X.509 object when the block carries none.
    std::shared_ptr<Certificate> signer;
    std::optional<int64_t> signingTime; // the signed attribute, seconds since the epoch
    // Never null; empty when the block carries no chain.
    std::shared_ptr<RotationChain> rotationChain;
    // False when the package was refused as a whole before any block was
    // checked (more than three blocks).
    bool checked = false;
    std::vector<BlockProblem> problems;
    // OpenSSL's error queue as its own printer shows it, from the checks of
    // this block; empty when OpenSSL reported nothing.
    std::string opensslErrors;

    bool verified() const { return checked && problems.empty(); }
};

// Every block of a package with all that was found wrong with each, unlike
// VerificationResult, which holds the first failure only. The verdict is the
// same: verified() exactly when FileWithCmses::verify would pass.
struct TORVEL_EXPORT PackageVerification {
    // A failure of the package as a whole: NoTrustedCertificates, NoBlocks
    // or TooManyBlocks; None otherwise.
    VerificationFailure failure = VerificationFailure::None;
    // Why, for NoTrustedCertificates: the system's error text, or "not a
    // regular file".
    std::string failureDetail;
    std::vector<BlockVerification> blocks;

    bool verified() const;
};

} // namespace PackageSignatures
