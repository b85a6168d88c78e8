// Checking every signature block of a package file: each block over the
// bytes it covers, against the CA bundle, at a position its signer's group
// may take. Blocks are checked from the last to the first.

#include <cstring>
#include <optional>

#include <unistd.h>

#include "cms/CmsVerification.h"
#include "common/OpenSslHandles.h"
#include "container/BlockLayout.h"
#include "container/BlockLocation.h"
#include "container/FileRange.h"
#include "torvel/Certificate.h"
#include "torvel/CertificateFunctions.h"
#include "torvel/CmsFunctions.h"
#include "torvel/FileWithCmses.h"

namespace PackageSignatures {

namespace {

constexpr size_t maximumBlocks = 3;

VerificationResult failed(VerificationFailure failure, int blockIndex = -1)
{
    return VerificationResult {failure, blockIndex};
}

// Start of the covered bytes: the package for the first block and for the
// legacy version 1; the previous block's first DER byte for versions 2 and
// 3. Empty for any other version. The covered bytes end where the block
// starts, before its frame header.
std::optional<int64_t> coveredStart(const std::vector<LocatedBlock>& blocks, size_t index)
{
    const CmsLocation& location = blocks[index].location;
    if (index == 0 || location.version == 1)
        return 0;
    if (location.version == 2 || location.version == skippableFrameVersion)
        return blocks[index - 1].location.offset;
    return std::nullopt;
}

bool groupFitsPosition(Group group, size_t index)
{
    switch (index) {
    case 0: return group == GroupDeveloper;
    case 1: return group == GroupSeclab || group == GroupClient;
    case 2: return group == GroupClient;
    default: return false;
    }
}

} // namespace

VerificationResult FileWithCmses::verify(const char* caPath) const
{
    const Common::OpenSsl::X509StoreHandle store(certificate_store_read(caPath));
    if (!store)
        return failed(VerificationFailure::NoTrustedCertificates);
    // The same blocks that signing and deleting find.
    const std::vector<LocatedBlock> blocks = locatePackageBlocks(fd()).blocks;
    if (blocks.empty())
        return failed(VerificationFailure::NoBlocks);
    if (blocks.size() > maximumBlocks)
        return failed(VerificationFailure::TooManyBlocks);

    for (size_t index = blocks.size(); index-- > 0;) {
        const LocatedBlock& block = blocks[index];
        const int blockIndex = int(index);
        const std::optional<int64_t> start = coveredStart(blocks, index);
        if (!start)
            return failed(VerificationFailure::UnknownBlockVersion, blockIndex);
        if (!block.framed)
            return failed(VerificationFailure::MissingFrameHeader, blockIndex);

        const std::vector<uint8_t> der = readFileRange(m_stream.get(), block.location.offset, block.location.end);
        const Common::OpenSsl::CmsHandle cms(block.parses ? cms_from_der(der.data(), long(der.size())) : nullptr);
        if (!cms)
            return failed(VerificationFailure::UnparsableBlock, blockIndex);
        const Common::OpenSsl::BioHandle covered(fileRangeSource(fd(), *start, block.start));
        const VerificationFailure check = checkCms(covered.get(), cms.get(), store.get());
        if (check != VerificationFailure::None)
            return failed(check, blockIndex);
        if (!groupFitsPosition(Certificate(cms_get_certificate(cms.get())).group(), index))
            return failed(VerificationFailure::MisplacedSigner, blockIndex);
    }
    return {};
}

bool FileWithCmses::verifyCmses(const char* caPath) const
{
    return verify(caPath).verified();
}

const char* describe(VerificationFailure failure)
{
    switch (failure) {
    case VerificationFailure::None: return "all signatures verified";
    case VerificationFailure::NoTrustedCertificates: return "the root certificate bundle could not be read";
    case VerificationFailure::NoBlocks: return "the file has no signatures";
    case VerificationFailure::TooManyBlocks: return "the file has more than three signatures";
    case VerificationFailure::UnknownBlockVersion: return "a signature block has an unknown version";
    case VerificationFailure::UnparsableBlock: return "a signature block is not a CMS";
    case VerificationFailure::InvalidSignature: return "a signature does not verify";
    case VerificationFailure::InvalidRotationChain: return "a proof-of-rotation chain does not verify";
    case VerificationFailure::RotationKeyMismatch: return "a proof-of-rotation chain does not end with its signer";
    case VerificationFailure::MisplacedSigner: return "a signer's group may not sign at its position";
    case VerificationFailure::MissingFrameHeader: return "a version-3 signature block has no frame header";
    }
    return "unknown failure";
}

} // namespace PackageSignatures
