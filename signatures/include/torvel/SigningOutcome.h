#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "torvel/Certificate.h"
#include "torvel/Export.h"
#include "torvel/Group.h"

namespace PackageSignatures {

// Why a block was not added. Diagnostics that the library prints on its way
// (a read-only file, a malformed block, OpenSSL's own) still appear; this
// says which step refused, for a tool to explain.
enum class SigningRefusal {
    None,
    NoCertificateOrKey,
    ReadOnlyFile,
    FileNotLocked,      // the file could not be locked or found again
    UnknownPackageEnd,  // the package does not say where it ends, or is shorter than it says
    SignerNotEligible,  // the certificate may not sign packages: see signerEligibility
    PositionRefused,    // the signer's group may not add a block after the blocks kept
    MalformedBlock,     // a block to sign over or to replace is not well-formed: see malformedBlock
    KeyDoesNotMatchCertificate,
    SignatureNotMade,   // the CMS could not be made; the lines printed before say why
    FileNotReplaced,    // the new file could not be written or renamed into place
};

// The signer of a block found in the package.
struct TORVEL_EXPORT BlockSigner {
    size_t index = 0; // in file order, from 0
    Group group = GroupNone;
    std::string subject;
    std::string keyId;
};

struct TORVEL_EXPORT SigningOutcome {
    SigningRefusal refusal = SigningRefusal::None;
    Group signerGroup = GroupNone;
    SigningEligibility signerEligibility = SigningEligibility::NoCertificate;
    // The blocks as they were before signing, in file order; empty when the
    // operation was refused before they were read.
    std::vector<BlockSigner> blocksFound;
    // How many of blocksFound stay in front of the new block; those after
    // them are removed by replacing, once the new block is written.
    size_t keptBlocks = 0;
    size_t malformedBlock = 0; // for MalformedBlock

    bool succeeded() const { return refusal == SigningRefusal::None; }
    // The blocks that signing removed (replace): only on success.
    std::vector<BlockSigner> removedBlocks() const;
};

} // namespace PackageSignatures
