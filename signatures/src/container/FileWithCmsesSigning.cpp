// Adding a signature block to a package file. Everything is computed
// first, from the file as it is; then the whole new file replaces the old
// one in a single rename, so that a process killed at any moment leaves
// either the old blocks or the complete new ones, and a failure leaves the
// file exactly as it was.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <openssl/err.h>
#include <unistd.h>

#include "certificates/CertificateFacts.h"
#include "cms/CmsSigning.h"
#include "common/LibcHandles.h"
#include "common/OpenSslHandles.h"
#include "common/PosixIo.h"
#include "container/BlockLayout.h"
#include "container/BlockLocation.h"
#include "container/ChangeLock.h"
#include "container/FileRange.h"
#include "container/PackageReplacement.h"
#include "container/SigningPosition.h"
#include "torvel/Certificate.h"
#include "torvel/CertificateFunctions.h"
#include "torvel/CmsFunctions.h"
#include "torvel/FileWithCmses.h"

namespace PackageSignatures {

namespace {

using Bytes = std::vector<uint8_t>;

// Only the signer is wanted from a block. A developer's block with the
// signatures of many files is megabytes, so its DER goes as soon as it is
// parsed rather than being held beside the parsed CMS.
BlockSigner blockSigner(FILE* stream, const LocatedBlock& block, size_t index)
{
    Common::OpenSsl::CmsHandle parsed;
    {
        const Bytes der = readFileRange(stream, block.location.offset, block.location.end);
        parsed.reset(cms_from_der(der.data(), long(der.size())));
    }
    const Certificate certificate(parsed ? cms_get_certificate(parsed.get()) : nullptr);
    return BlockSigner {index, certificate.group(), certificate.subject(), certificate.keyId()};
}

std::vector<BlockSigner> blockSigners(FILE* stream, const std::vector<LocatedBlock>& blocks)
{
    std::vector<BlockSigner> signers;
    for (size_t index = 0; index < blocks.size(); ++index)
        signers.push_back(blocks[index].wellFormed() ? blockSigner(stream, blocks[index], index)
                                                     : BlockSigner {index, GroupNone, {}, {}});
    return signers;
}

std::vector<Group> groupsOf(const std::vector<BlockSigner>& signers)
{
    std::vector<Group> groups;
    for (const BlockSigner& signer : signers)
        groups.push_back(signer.group);
    return groups;
}

SigningOutcome refused(SigningOutcome outcome, SigningRefusal refusal)
{
    outcome.refusal = refusal;
    return outcome;
}

} // namespace

std::vector<BlockSigner> SigningOutcome::removedBlocks() const
{
    if (!succeeded() || keptBlocks >= blocksFound.size())
        return {};
    return std::vector<BlockSigner>(blocksFound.begin() + std::ptrdiff_t(keptBlocks), blocksFound.end());
}

bool FileWithCmses::sign(X509* cert, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm,
                         ProofOfRotationChain* proofs, bool replace, bool zstdFrame, bool signFiles)
{
    return signWithOutcome(cert, key, taKey, taAlgorithm, proofs, replace, zstdFrame, signFiles, 1).succeeded();
}

bool FileWithCmses::sign(X509* cert, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm,
                         ProofOfRotationChain* proofs, bool replace, bool zstdFrame, bool signFiles,
                         unsigned fileSigningThreads)
{
    return signWithOutcome(cert, key, taKey, taAlgorithm, proofs, replace, zstdFrame, signFiles, fileSigningThreads)
        .succeeded();
}

SigningOutcome FileWithCmses::signWithOutcome(X509* cert, EVP_PKEY* key, EVP_PKEY* taKey, unsigned taAlgorithm,
                                              ProofOfRotationChain* proofs, bool replace, bool zstdFrame,
                                              bool signFiles, unsigned fileSigningThreads)
{
    SigningOutcome outcome;
    if (cert == nullptr || key == nullptr || !m_stream)
        return refused(outcome, SigningRefusal::NoCertificateOrKey);
    if (isReadOnly()) {
        std::fprintf(stderr, "Could not sign \"%s\": the file is read-only\n", displayPath().c_str());
        return refused(outcome, SigningRefusal::ReadOnlyFile);
    }
    // certificate_get_group, with its diagnostics, is what decides.
    const Common::Libc::CStringHandle groupText(certificate_get_group(cert));
    outcome.signerGroup = groupFromString(groupText.get());
    outcome.signerEligibility = readCertificateGroup(cert).eligibility;
    const std::optional<std::string> realPath = lockForChange();
    if (!realPath)
        return refused(outcome, SigningRefusal::FileNotLocked);
    const ChangeLock lock(*this);
    removeStaleReplacements(*realPath);

    const PackageBlocks found = locatePackageBlocks(fd());
    if (!found.floor || *found.floor > found.fileSize) {
        std::fprintf(stderr, "Could not sign \"%s\": %s\n", displayPath().c_str(),
                     found.floor ? "the package is shorter than its header says"
                                 : "the package does not say where it ends");
        return refused(outcome, SigningRefusal::UnknownPackageEnd);
    }
    const std::vector<LocatedBlock>& blocks = found.blocks;
    outcome.blocksFound = blockSigners(m_stream.get(), blocks);
    const SigningPosition position = planSigningPosition(groupsOf(outcome.blocksFound), outcome.signerGroup, replace);
    outcome.keptBlocks = position.keptBlocks;
    if (!position.allowed)
        return refused(outcome, outcome.signerGroup == GroupNone ? SigningRefusal::SignerNotEligible
                                                                 : SigningRefusal::PositionRefused);
    // The new block signs over the blocks it keeps and the old file loses
    // those it replaces: either only when they are what they claim to be.
    for (size_t index = 0; index < blocks.size(); ++index) {
        if (!blocks[index].wellFormed()) {
            std::fprintf(stderr, "Could not sign \"%s\": signature block %zu is malformed, refusing to %s it\n",
                         displayPath().c_str(), index + 1, index < position.keptBlocks ? "sign after" : "replace");
            outcome.malformedBlock = index;
            return refused(outcome, SigningRefusal::MalformedBlock);
        }
    }

    // The first block covers the package; a later one the block before it,
    // from its first DER byte to the end of its trailer.
    const size_t kept = position.keptBlocks;
    const int64_t end = kept < blocks.size() ? blocks[kept].start : found.fileSize;
    const int64_t start = kept == 0 ? 0 : blocks[kept - 1].location.offset;
    size_t length = 0;
    const off_t remembered = lseek(fd(), 0, SEEK_CUR);
    const Common::Libc::CStringHandle der(reinterpret_cast<char*>(
        signFileRange(fd(), start, end, signFiles, key, taKey, taAlgorithm, cert, proofs, &length,
                      fileSigningThreads)));
    lseek(fd(), remembered, SEEK_SET);
    if (!der) {
        // Asked only now: a key that does not match is the usual reason,
        // and OpenSSL's own words for it ("Could not add CMS signer") do
        // not say so.
        const bool matches = X509_check_private_key(cert, key) == 1;
        ERR_clear_error();
        return refused(outcome, matches ? SigningRefusal::SignatureNotMade
                                        : SigningRefusal::KeyDoesNotMatchCertificate);
    }
    const Bytes block = encodeBlock(zstdFrame ? skippableFrameVersion : 2,
                                    reinterpret_cast<const uint8_t*>(der.get()), length);

    std::fflush(m_stream.get());
    Common::UniqueFd replaced = replacePackage(fd(), *realPath, end, block);
    if (!replaced)
        return refused(outcome, SigningRefusal::FileNotReplaced);
    // From here on the object stands for the new file, whose lock it holds.
    Common::Libc::FileHandle stream = Common::streamOf(std::move(replaced), "r+");
    if (!stream)
        stream.reset(std::fopen(realPath->c_str(), "r+"));
    if (stream)
        m_stream.reset(stream.release());
    return outcome;
}

} // namespace PackageSignatures
